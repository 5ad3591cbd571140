#pragma once

// Every modal question of the program (message boxes and file dialogs) goes through the current
// prompter. The real one shows Qt's boxes and the program's dialogs; widget tests install one that
// answers from a script, so no test ever waits for a click.

#include <QString>
#include <optional>

class QWidget;

namespace veilora {
class TImageIO;
}

enum class TAnswer { Yes, No, Cancel };

class TPrompter {
 public:
  virtual ~TPrompter() = default;
  // An information box ("No Data in this Image", the colour count).
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
  // The application's error box: the text of a failure that reached the user.
  virtual void ShowError(QWidget* parent, const QString& text) = 0;
  // A warning box: something went wrong, but the command went on (a damaged file that opened).
  virtual void ShowWarning(QWidget* parent, const QString& text) = 0;
  // A question with Yes and No only; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
  // A confirmation with Yes, No and Cancel ("Save Changes to X?").
  virtual TAnswer AskYesNoCancel(QWidget* parent, const QString& text) = 0;
  // A passphrase question: what the user typed (shown as dots while typed); nothing when the user
  // cancels.
  virtual std::optional<QString> AskPassword(QWidget* parent, const QString& text) = 0;
  // The text pane's Load File dialog; nothing when the user cancels.
  virtual std::optional<QString> OpenTextFile(QWidget* parent) = 0;
  // The text pane's Save as dialog; nothing when the user cancels.
  virtual std::optional<QString> SaveTextFile(QWidget* parent) = 0;
  // The image open dialog with its preview.
  virtual std::optional<QString> OpenImageFile(QWidget* parent) = 0;
  // The image save dialog, starting at initialName; its advanced options edit the parameters of
  // `attached`.
  virtual std::optional<QString> SaveImageFile(QWidget* parent, const QString& initialName,
                                               veilora::TImageIO* attached) = 0;
};

// The prompter in force: the real one unless a test installed another.
TPrompter& Prompter();
// Installs a prompter (not owned); nullptr restores the real one.
void SetPrompter(TPrompter* prompter);

// The filter of the text-file dialogs, in the "description|pattern|..." form the program states its
// filters in.
inline constexpr const char* kTextFileFilter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*";
