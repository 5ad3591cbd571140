#include "shell/Prompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>

#include "dialogs/DialogFilter.h"
#include "dialogs/OpenImageDialog.h"
#include "dialogs/SaveImageDialog.h"

namespace {

QStringList TextFileFilters() {
  QStringList filters;
  for (const std::string& filter : veilora::QtNameFilters(kTextFileFilter)) {
    filters << QString::fromStdString(filter);
  }
  return filters;
}

std::optional<QString> RunTextFileDialog(QWidget* parent, QFileDialog::AcceptMode mode,
                                         const QString& suffix) {
  QFileDialog dialog(parent);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  // The descriptions already name their patterns ("Text Files (*.txt)"); the list shows them once.
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setNameFilters(TextFileFilters());
  // A name typed without an extension gets this one.
  dialog.setDefaultSuffix(suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

// Message boxes, Qt's file dialogs and the program's image dialogs.
class TWidgetPrompter final : public TPrompter {
 public:
  void ShowMessage(QWidget* parent, const QString& text) override {
    QMessageBox::information(parent, QApplication::applicationDisplayName(), text);
  }

  void ShowError(QWidget* parent, const QString& text) override {
    QMessageBox::critical(parent, QApplication::applicationDisplayName(), text);
  }

  void ShowWarning(QWidget* parent, const QString& text) override {
    QMessageBox::warning(parent, QApplication::applicationDisplayName(), text);
  }

  bool AskYesNo(QWidget* parent, const QString& text) override {
    return QMessageBox::question(parent, QObject::tr("Confirm"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  }

  TAnswer AskYesNoCancel(QWidget* parent, const QString& text) override {
    const auto answer = QMessageBox::question(parent, QObject::tr("Confirm"), text,
                                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) return TAnswer::Yes;
    if (answer == QMessageBox::No) return TAnswer::No;
    return TAnswer::Cancel;
  }

  std::optional<QString> AskPassword(QWidget* parent, const QString& text) override {
    bool accepted = false;
    const QString answer = QInputDialog::getText(parent, QObject::tr("Passphrase"), text, QLineEdit::Password,
                                                 QString(), &accepted);
    if (!accepted) return std::nullopt;
    return answer;
  }

  std::optional<QString> OpenTextFile(QWidget* parent) override {
    return RunTextFileDialog(parent, QFileDialog::AcceptOpen, QStringLiteral("txt"));
  }

  std::optional<QString> SaveTextFile(QWidget* parent) override {
    return RunTextFileDialog(parent, QFileDialog::AcceptSave, QStringLiteral("txt"));
  }

  std::optional<QString> OpenImageFile(QWidget* parent) override {
    TOpenImageDialog dialog(parent);
    dialog.SetFilter(QString::fromLatin1(kOpenImageFilter));
    if (!dialog.Execute()) return std::nullopt;
    return dialog.FileName();
  }

  std::optional<QString> SaveImageFile(QWidget* parent, const QString& initialName,
                                       veilora::TImageIO* attached) override {
    TSaveImageDialog dialog(parent);
    dialog.SetFilter(QString::fromLatin1(kSaveImageFilter));
    dialog.SetOptions(sdShowAdvanced);
    dialog.SetFileName(initialName);
    dialog.SetAttachedImageIO(attached);
    const bool chosen = dialog.Execute();
    dialog.SetAttachedImageIO(nullptr);
    if (!chosen) return std::nullopt;
    return dialog.FileName();
  }
};

TPrompter* installedPrompter = nullptr;

}  // namespace

TPrompter& Prompter() {
  static TWidgetPrompter widgetPrompter;
  return installedPrompter != nullptr ? *installedPrompter : widgetPrompter;
}

void SetPrompter(TPrompter* prompter) {
  installedPrompter = prompter;
}
