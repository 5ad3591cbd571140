#include "scan/ui/SourceSelectDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

TSourceSelectDialog::TSourceSelectDialog(const std::vector<veilora::scan::TSourceChoice>& sources,
                                         int current, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("SourceSelectDialog"));
  setWindowTitle(tr("Select Source"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Sources:"), this));
  SourceList = new QListWidget(this);
  SourceList->setObjectName(QStringLiteral("SourceList"));
  for (const veilora::scan::TSourceChoice& source : sources) {
    QString text = QString::fromStdString(source.productName);
    const QString maker = QString::fromStdString(source.manufacturer + " " + source.productFamily).trimmed();
    if (!maker.isEmpty()) text += QStringLiteral("  (") + maker + u')';
    SourceList->addItem(text);
  }
  if (current >= 0 && current < SourceList->count()) SourceList->setCurrentRow(current);
  layout->addWidget(SourceList);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* select = buttons->addButton(tr("Select"), QDialogButtonBox::AcceptRole);
  select->setObjectName(QStringLiteral("SelectButton"));
  select->setDefault(true);
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(SourceList, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  select->setEnabled(SourceList->count() > 0);
  layout->addWidget(buttons);
  resize(360, 240);
}

int TSourceSelectDialog::Chosen() const {
  return SourceList->currentRow();
}
