#include "dialogs/PaletteDialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// 16 swatches a row: a full 256-entry table is a square.
constexpr int kColumns = 16;
constexpr int kCellSide = 18;

QString ColourName(veilora::TRGB colour) {
  return QStringLiteral("#%1%2%3")
      .arg(colour.r, 2, 16, QLatin1Char('0'))
      .arg(colour.g, 2, 16, QLatin1Char('0'))
      .arg(colour.b, 2, 16, QLatin1Char('0'));
}

}  // namespace

TPaletteDialog::TPaletteDialog(const std::vector<veilora::TRGB>& colours, veilora::TRGB current,
                               QWidget* parent)
    : QDialog(parent), colours_(colours) {
  setObjectName(QStringLiteral("PaletteDialog"));
  setWindowTitle(tr("Palette"));
  if (colours_.empty()) colours_.push_back(veilora::TRGB{});

  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  grid->setSpacing(1);
  group_ = new QButtonGroup(this);
  group_->setExclusive(true);
  for (std::size_t i = 0; i < colours_.size(); ++i) {
    auto* cell = new QToolButton(this);
    cell->setObjectName(QStringLiteral("PaletteCell%1").arg(i));
    cell->setCheckable(true);
    cell->setFixedSize(kCellSide, kCellSide);
    cell->setToolTip(QStringLiteral("%1: %2").arg(i).arg(ColourName(colours_[i])));
    // The pressed swatch gets a thick frame so it stays visible on any colour.
    cell->setStyleSheet(QStringLiteral("QToolButton { background: %1; border: 1px solid #808080; }"
                                       "QToolButton:checked { border: 3px solid #000000; }")
                            .arg(ColourName(colours_[i])));
    group_->addButton(cell, static_cast<int>(i));
    grid->addWidget(cell, static_cast<int>(i) / kColumns, static_cast<int>(i) % kColumns);
    cells_.push_back(cell);
  }
  layout->addLayout(grid);
  valueLabel_ = new QLabel(this);
  valueLabel_->setObjectName(QStringLiteral("PaletteValue"));
  layout->addWidget(valueLabel_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("PaletteOK"));
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(tr("&Cancel"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("PaletteCancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  connect(group_, &QButtonGroup::idClicked, this, &TPaletteDialog::SelectIndex);

  int start = 0;
  for (std::size_t i = 0; i < colours_.size(); ++i) {
    if (colours_[i] == current) {
      start = static_cast<int>(i);
      break;
    }
  }
  SelectIndex(start);
}

void TPaletteDialog::SelectIndex(int index) {
  if (index < 0 || index >= EntryCount()) return;
  selected_ = index;
  cells_[static_cast<std::size_t>(index)]->setChecked(true);
  valueLabel_->setText(tr("Entry %1: %2").arg(index).arg(ColourName(SelectedColour())));
}

QToolButton* TPaletteDialog::Cell(int index) const {
  if (index < 0 || index >= EntryCount()) return nullptr;
  return cells_[static_cast<std::size_t>(index)];
}
