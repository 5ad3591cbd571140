#include "dialogs/FilterChoice.h"

#include <QComboBox>
#include <QFileDialog>

namespace veilora {

namespace {

// Qt's own file dialog names its type list this way.
QComboBox* TypeCombo(const QFileDialog& dialog) {
  return dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
}

}  // namespace

int SelectedFilterIndex(const QFileDialog& dialog) {
  if (const QComboBox* combo = TypeCombo(dialog)) return combo->count() == 0 ? 0 : combo->currentIndex() + 1;
  return static_cast<int>(dialog.nameFilters().indexOf(dialog.selectedNameFilter())) + 1;
}

void SelectFilterIndex(QFileDialog& dialog, int index) {
  const QStringList filters = dialog.nameFilters();
  if (index < 1 || index > filters.size()) return;
  dialog.selectNameFilter(filters.at(index - 1));
  if (QComboBox* combo = TypeCombo(dialog)) combo->setCurrentIndex(index - 1);
}

}  // namespace veilora
