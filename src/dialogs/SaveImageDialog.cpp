#include "dialogs/SaveImageDialog.h"

#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/DialogFilter.h"
#include "dialogs/FilterChoice.h"
#include "io/ImageIO.h"
#include "io/SaveOptions.h"

const char* const kSaveImageFilter =
    "JPEG Bitmap (JPG) No Data|*.jpg|CompuServe Bitmap (GIF)|*.gif|TIFF Bitmap (TIF)|*.tif|"
    "PaintBrush (PCX)|*.pcx|Portable Network Graphics (PNG)|*.png|Windows Bitmap (BMP)|*.bmp|"
    "OS/2 Bitmap (BMP)|*.bmp";

const char* const kDefaultSaveImageFilter =
    "JPEG Bitmap (JPG)|*.jpg|CompuServe Bitmap (GIF)|*.gif|TIFF Bitmap (TIF)|*.tif|PaintBrush (PCX)|*.pcx|"
    "Portable Network Graphics (PNG)|*.png|Windows Bitmap (BMP)|*.bmp|OS/2 Bitmap (BMP)|*.bmp";

namespace {

QStringList ToQtNameFilters(const QString& filterText) {
  QStringList filters;
  for (const std::string& filter : veilora::QtNameFilters(filterText.toStdString()))
    filters << QString::fromStdString(filter);
  return filters;
}

}  // namespace

TSaveImageDialog::TSaveImageDialog(QWidget* parent) : QFileDialog(parent) {
  // Qt's own dialog must be chosen before anything else is set, or the settings go to the
  // platform's dialog.
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  // The list shows the descriptions exactly as written; the patterns still filter the files.
  setOption(QFileDialog::HideNameFilterDetails, true);
  connect(this, &QFileDialog::filterSelected, this, &TSaveImageDialog::FilterChanged);
  SetFilter(QString::fromLatin1(kDefaultSaveImageFilter));

  advancedButton_ = new QPushButton(tr("Advanced") + QStringLiteral("..."), this);
  advancedButton_->setObjectName(QStringLiteral("AdvancedButton"));
  // Qt's own dialog lays its controls out on a grid; the button goes below the buttons column.
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
    grid->addWidget(advancedButton_, grid->rowCount(), grid->columnCount() - 1);
  } else if (layout() != nullptr) {
    layout()->addWidget(advancedButton_);
  }
  connect(advancedButton_, &QPushButton::clicked, this, &TSaveImageDialog::AdvancedButtonClick);
  SetOptions(options_);
}

TSaveImageDialog::~TSaveImageDialog() = default;

void TSaveImageDialog::SetFilter(const QString& filterText) {
  filterText_ = filterText;
  setNameFilters(ToQtNameFilters(filterText));
  SyncDefaultSuffix();
}

void TSaveImageDialog::SetOptions(int sdOptions) {
  options_ = sdOptions & (sdShowPreview | sdShowAdvanced);
  if (advancedButton_ != nullptr) advancedButton_->setVisible((options_ & sdShowAdvanced) != 0);
}

void TSaveImageDialog::AdvancedButtonClick() {
  if (attachedImageIO_ == nullptr) return;
  const QLineEdit* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  const QString typed = edit != nullptr ? edit->text() : fileName_;
  int page = veilora::SavePageForExtension(veilora::LowerExtension(QFile::encodeName(typed).toStdString()));
  if (page == 0) {
    const std::string fallback = veilora::FilterExtension(filterText_.toStdString(), FilterIndex());
    page = veilora::SavePageForExtension(veilora::LowerExtension(fallback));
  }
  if (page == 0) return;
  attachedImageIO_->ShowSaveOptions(page);
}

void TSaveImageDialog::SetFileName(const QString& fileName) {
  fileName_ = fileName;
  selectFile(fileName);
}

QString TSaveImageDialog::FileName() const {
  return fileName_;
}

int TSaveImageDialog::FilterIndex() const {
  return veilora::SelectedFilterIndex(*this);
}

void TSaveImageDialog::SetFilterIndex(int index) {
  veilora::SelectFilterIndex(*this, index);
  SyncDefaultSuffix();
}

void TSaveImageDialog::SyncDefaultSuffix() {
  // Qt appends the default suffix to a typed name without a dot before it checks whether the file
  // exists, so the overwrite question is asked about the name that will really be written.
  const std::string extension = veilora::FilterExtension(filterText_.toStdString(), FilterIndex());
  setDefaultSuffix(extension.empty() ? QString() : QString::fromStdString(extension.substr(1)));
}

void TSaveImageDialog::FilterChanged() {
  SyncDefaultSuffix();
  const std::string extension = veilora::FilterExtension(filterText_.toStdString(), FilterIndex());
  if (extension.empty()) return;
  if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    const QString replaced =
        QString::fromStdString(veilora::ReplaceExtension(edit->text().toStdString(), extension));
    if (replaced != edit->text()) edit->setText(replaced);
  }
}

void TSaveImageDialog::SelectFilterForName() {
  // A name that already says its format picks that filter, unless the current one fits it too
  // (both bitmap entries take ".bmp").
  const std::string extension = veilora::FileExtension(fileName_.toStdString());
  if (extension.empty()) return;
  const std::vector<veilora::TFilterEntry> entries = veilora::ParseFilter(filterText_.toStdString());
  const int current = FilterIndex();
  if (current >= 1 && static_cast<std::size_t>(current) <= entries.size() &&
      veilora::EntryMatchesExtension(entries[static_cast<std::size_t>(current) - 1], extension))
    return;
  const int matching = veilora::FilterIndexForExtension(filterText_.toStdString(), extension);
  if (matching <= 0) return;
  // Choosing a filter makes Qt write the filter's extension, in the filter's case, into the name
  // box; the name stays as the user or the caption wrote it ("PHOTO.PNG", not "PHOTO.png").
  QLineEdit* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  const QString written = edit != nullptr ? edit->text() : QString();
  SetFilterIndex(matching);
  if (edit != nullptr && edit->text() != written && edit->text().compare(written, Qt::CaseInsensitive) == 0)
    edit->setText(written);
}

bool TSaveImageDialog::Execute() {
  // Changes made to the parameters while the dialog is open (the advanced options) are undone
  // when the user cancels.
  std::unique_ptr<veilora::TIOParams> savedParams;
  if (attachedImageIO_ != nullptr) {
    savedParams = std::make_unique<veilora::TIOParams>(attachedImageIO_);
    savedParams->Assign(attachedImageIO_->Params);
  }
  if (!fileName_.isEmpty()) selectFile(fileName_);
  SelectFilterForName();
  SyncDefaultSuffix();

  if (exec() != QDialog::Accepted) {
    if (attachedImageIO_ != nullptr && savedParams) attachedImageIO_->Params.Assign(*savedParams);
    return false;
  }
  const QStringList files = selectedFiles();
  const std::string chosen = files.isEmpty() ? std::string() : files.first().toStdString();
  const std::string extension = veilora::FilterExtension(filterText_.toStdString(), FilterIndex());
  fileName_ = QString::fromStdString(veilora::AppendExtension(chosen, extension));
  return true;
}
