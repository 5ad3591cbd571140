#pragma once

// The image save dialog: Qt's own file dialog (never the desktop's native one) that asks before
// overwriting, hides the read-only box, keeps the extension of the file name in step with the
// chosen filter, and can carry the input/output component whose save parameters the advanced
// options edit.

#include <QFileDialog>
#include <QString>

class QPushButton;

namespace veilora {
class TImageIO;
}  // namespace veilora

// The filter the main window's Save As offers: one entry per writable format.
extern const char* const kSaveImageFilter;
// The filter a new save dialog starts with.
extern const char* const kDefaultSaveImageFilter;

enum TSaveDialogOption { sdShowPreview = 1, sdShowAdvanced = 2 };

class TSaveImageDialog : public QFileDialog {
  Q_OBJECT

 public:
  // Starts with both options, kDefaultSaveImageFilter and no attached component.
  explicit TSaveImageDialog(QWidget* parent = nullptr);
  ~TSaveImageDialog() override;

  // The filter in its "Description|*.a;*.b|..." form; the first entry becomes the selected one.
  void SetFilter(const QString& filterText);
  // A combination of TSaveDialogOption values.
  void SetOptions(int sdOptions);
  int Options() const { return options_; }

  // The name offered in the name box; a name with a folder also opens that folder.
  void SetFileName(const QString& fileName);
  // The chosen file after Execute (with the filter's extension appended when it had none).
  QString FileName() const;
  // The selected filter entry, counted from 1; 0 when the filter is empty.
  int FilterIndex() const;
  void SetFilterIndex(int index);

  // The component whose parameters the advanced options edit. The dialog does not own it, and a
  // TImageIO announces no destruction: whoever destroys an attached component must first call
  // SetAttachedImageIO(nullptr).
  void SetAttachedImageIO(veilora::TImageIO* io) { attachedImageIO_ = io; }
  veilora::TImageIO* AttachedImageIO() const { return attachedImageIO_; }

  // Runs the dialog modally; true when a name was chosen. The attached component's parameters are
  // copied first and put back when the user cancels. Choosing an existing file asks before
  // replacing it, for the name with its appended extension too.
  bool Execute();

  // Opens the save options of the attached component for the format of the name in the name box
  // (else of the selected filter's extension); nothing without a component or a known format.
  void AdvancedButtonClick();
  QPushButton* AdvancedButton() const { return advancedButton_; }

 private:
  void FilterChanged();
  void SyncDefaultSuffix();
  void SelectFilterForName();

  QString filterText_;
  QString fileName_;
  int options_ = sdShowPreview | sdShowAdvanced;
  veilora::TImageIO* attachedImageIO_ = nullptr;
  QPushButton* advancedButton_ = nullptr;
};
