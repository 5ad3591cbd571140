#pragma once

// A prompter for widget tests: it answers every modal question from queues the test fills, records
// what was asked, and installs itself for its lifetime. A question the test did not script fails
// the test and is answered with Cancel (or no file), so a missing answer can never hang a run.

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

#include "shell/Prompter.h"

namespace veilora::test {

class ScriptedPrompter : public TPrompter {
 public:
  enum class Kind {
    Message,
    Error,
    Warning,
    Question,
    YesNo,
    Password,
    OpenText,
    SaveText,
    OpenImage,
    SaveImage
  };

  struct Asked {
    Kind kind;
    QString text;  // the message, the question, or the image save dialog's initial name
    veilora::TImageIO* attached = nullptr;
  };

  ScriptedPrompter() { SetPrompter(this); }
  ~ScriptedPrompter() override { SetPrompter(nullptr); }
  ScriptedPrompter(const ScriptedPrompter&) = delete;
  ScriptedPrompter& operator=(const ScriptedPrompter&) = delete;

  // Answers to AskYesNoCancel and AskYesNo (where only Yes is yes), in order.
  std::deque<TAnswer> answers;
  // Answers to the passphrase questions, in order; nothing stands for Cancel.
  std::deque<std::optional<QString>> passwords;
  // Answers to the four file dialogs, in order; nothing stands for Cancel.
  std::deque<std::optional<QString>> fileNames;
  std::vector<Asked> asked;

  void ShowMessage(QWidget*, const QString& text) override { asked.push_back({Kind::Message, text}); }
  void ShowError(QWidget*, const QString& text) override { asked.push_back({Kind::Error, text}); }
  void ShowWarning(QWidget*, const QString& text) override { asked.push_back({Kind::Warning, text}); }

  bool AskYesNo(QWidget*, const QString& text) override { return Answer(Kind::YesNo, text) == TAnswer::Yes; }
  TAnswer AskYesNoCancel(QWidget*, const QString& text) override { return Answer(Kind::Question, text); }

  std::optional<QString> AskPassword(QWidget*, const QString& text) override {
    asked.push_back({Kind::Password, text});
    if (passwords.empty()) {
      ADD_FAILURE() << "unscripted passphrase question: " << text.toStdString();
      return std::nullopt;
    }
    std::optional<QString> password = passwords.front();
    passwords.pop_front();
    return password;
  }

  std::optional<QString> OpenTextFile(QWidget*) override { return NextFile(Kind::OpenText, {}); }
  std::optional<QString> SaveTextFile(QWidget*) override { return NextFile(Kind::SaveText, {}); }
  std::optional<QString> OpenImageFile(QWidget*) override { return NextFile(Kind::OpenImage, {}); }
  std::optional<QString> SaveImageFile(QWidget*, const QString& initialName, veilora::TImageIO* io) override {
    return NextFile(Kind::SaveImage, initialName, io);
  }

  // The texts asked of one kind, in order.
  QStringList Texts(Kind kind) const {
    QStringList texts;
    for (const Asked& entry : asked) {
      if (entry.kind == kind) texts << entry.text;
    }
    return texts;
  }

 private:
  TAnswer Answer(Kind kind, const QString& text) {
    asked.push_back({kind, text});
    if (answers.empty()) {
      ADD_FAILURE() << "unscripted question: " << text.toStdString();
      return TAnswer::Cancel;
    }
    const TAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::optional<QString> NextFile(Kind kind, const QString& text, veilora::TImageIO* io = nullptr) {
    asked.push_back({kind, text, io});
    if (fileNames.empty()) {
      ADD_FAILURE() << "unscripted file dialog";
      return std::nullopt;
    }
    std::optional<QString> name = fileNames.front();
    fileNames.pop_front();
    return name;
  }
};

}  // namespace veilora::test
