// Veilora's start-up: the application, its main window (whose construction wires the hints, the
// update of items, the LZW coders and the screen's resolution and colours), and the message loop.
//
// Image files named on the command line open as documents (the desktop entry passes them).
//
// Automation for the end-to-end test: with VEILORA_SCRIPT=<file> the running program performs the
// steps listed in that file, one per line, through its real menus, buttons and dialogs, and writes
// what happened to VEILORA_SCRIPT_LOG (default: the script's name + ".log"). Steps:
//   menu <ObjectName>        triggers a main-window menu item (queued, so a dialog it opens runs)
//   button <Caption>         clicks the active document's tool button with that caption
//   type <text>              types the text, key by key, into the active document's text pane
//   dialog-file <path>       waits for the modal file dialog, types the name and presses Return
//   wait-file-dialog         waits until a modal file dialog is open and active, then logs
//                            "dialog: open" (for a driver outside that types into it)
//   answer <button>          waits for a message box, logs "question: <text>" and presses the
//                            button with that caption (Yes, No, OK, ...)
//   click <ObjectName>       waits for a visible, enabled button of that name in any window (a
//                            dialog's Scan or Select, for example) and clicks it
//   log <text>               writes "log <text>" (a mark a driver outside waits for)
//   wait-file <path>         waits until the file exists (a driver outside made it)
//   wait-documents <n>       waits until n documents are open (and no dialog is)
//   wait-pane <text>         waits until the active document's pane holds the text (typed from
//                            outside, for example by xdotool)
//   pane                     writes the active document's pane text to the log ("pane: <text>")
//   status                   writes the active document's status line to the log
//   image-origin             writes "image-origin <x> <y> <zoom>": where the active document's
//                            picture starts on the screen, for a driver outside that drags on it
//   image                    writes the active document's picture size and depth ("image: WxH B")
//   screenshot <file.png>    grabs the whole screen into a PNG
//   sleep <ms>               waits
//   quit                     closes the main window
// A step that cannot be done writes "FAIL ..." to the log and ends the program with exit code 3.

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <functional>

#include "shell/FlatMemo.h"
#include "shell/Main.h"
#include "view/ImageView.h"

namespace {

constexpr int kStepPause = 150;
constexpr int kPollInterval = 50;
constexpr int kWaitLimit = 15000;
constexpr int kMaximiseCheckDelay = 300;

class TScriptRunner : public QObject {
 public:
  TScriptRunner(TMainForm& form, const QString& scriptName, const QString& logName)
      : form_(form), log_(logName) {
    QFile script(scriptName);
    if (script.open(QIODevice::ReadOnly | QIODevice::Text)) {
      for (const QString& line : QString::fromUtf8(script.readAll()).split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty() && !line.startsWith(QLatin1Char('#'))) steps_ << line;
      }
    }
    log_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    if (!script.isOpen()) Fail(QStringLiteral("cannot read the script ") + scriptName);
  }

  void Start() {
    QTimer::singleShot(kStepPause * 2, this, [this] { Next(); });
  }

 private:
  void Write(const QString& line) {
    log_.write(line.toUtf8() + '\n');
    log_.flush();
  }

  void Fail(const QString& reason) {
    Write(QStringLiteral("FAIL ") + reason);
    failed_ = true;
    QApplication::exit(3);
  }

  void Next() {
    if (failed_ || index_ >= steps_.size()) return;
    // Only an "answer" step expects a message box; any other that is open tells what went wrong.
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        box != nullptr && !steps_[index_].startsWith(QLatin1String("answer "))) {
      return Fail(QStringLiteral("a message box is open: ") + box->text());
    }
    const QString step = steps_[index_++];
    const qsizetype space = step.indexOf(QLatin1Char(' '));
    const QString verb = space < 0 ? step : step.left(space);
    const QString argument = space < 0 ? QString() : step.mid(space + 1);
    Write(QStringLiteral("step ") + step);
    Run(verb, argument);
  }

  void Continue() {
    if (!failed_) QTimer::singleShot(kStepPause, this, [this] { Next(); });
  }

  // Polls `done` until it holds, then continues; fails after the wait limit.
  void WaitFor(const QString& what, std::function<bool()> done, int waited = 0) {
    if (done()) {
      Continue();
    } else if (waited > kWaitLimit) {
      TMDIChild* child = form_.ActiveMDIChild();
      if (child != nullptr) Write(QStringLiteral("pane: ") + QString::fromUtf8(child->PaneBytes()));
      const QWidget* focus = QApplication::focusWidget();
      Write(QStringLiteral("focus: ") +
            (focus != nullptr
                 ? QString::fromLatin1(focus->metaObject()->className()) + u' ' + focus->objectName()
                 : QStringLiteral("none")));
      Fail(QStringLiteral("timed out waiting for ") + what);
    } else {
      QTimer::singleShot(kPollInterval, this,
                         [this, what, done, waited] { WaitFor(what, done, waited + kPollInterval); });
    }
  }

  void Run(const QString& verb, const QString& argument) {
    TMDIChild* child = form_.ActiveMDIChild();
    if (verb == QLatin1String("menu")) {
      auto* action = form_.findChild<QAction*>(argument);
      if (action == nullptr || !action->isEnabled())
        return Fail(QStringLiteral("no enabled item ") + argument);
      QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
      return Continue();
    }
    if (verb == QLatin1String("button")) {
      if (child == nullptr) return Fail(QStringLiteral("no document for ") + argument);
      for (QToolButton* button : child->findChildren<QToolButton*>()) {
        if (button->text() == argument && button->isEnabled()) {
          // Queued, so a message box the command opens does not hold up the script.
          QMetaObject::invokeMethod(button, &QToolButton::click, Qt::QueuedConnection);
          return Continue();
        }
      }
      return Fail(QStringLiteral("no enabled button ") + argument);
    }
    if (verb == QLatin1String("type")) {
      if (child == nullptr) return Fail(QStringLiteral("no document to type into"));
      QWidget* target = child->Hiddenmemo;
      for (const QChar character : argument) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(character));
        QApplication::sendEvent(target, &press);
        QApplication::sendEvent(target, &release);
      }
      return Continue();
    }
    if (verb == QLatin1String("dialog-file")) {
      return WaitFor(QStringLiteral("a file dialog"), [argument] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) return false;
        auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (nameEdit == nullptr) return false;
        nameEdit->setFocus();
        nameEdit->setText(argument);
        // Return in the name box presses the dialog's default button, as a user's Return does.
        // Posted, so that whatever the dialog does next (a warning box of its own) runs outside
        // this step.
        QApplication::postEvent(
            nameEdit, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r")));
        QApplication::postEvent(nameEdit, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier,
                                                        QStringLiteral("\r")));
        return true;
      });
    }
    if (verb == QLatin1String("wait-file-dialog")) {
      return WaitFor(QStringLiteral("a file dialog"), [this] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible() || !dialog->isActiveWindow()) return false;
        Write(QStringLiteral("dialog: open"));
        return true;
      });
    }
    if (verb == QLatin1String("answer")) {
      return WaitFor(QStringLiteral("a question"), [this, argument] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) return false;
        Write(QStringLiteral("question: ") + box->text());
        for (QAbstractButton* button : box->buttons()) {
          if (button->text().remove(QLatin1Char('&')) == argument) {
            QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
            return true;
          }
        }
        Fail(QStringLiteral("the question has no button ") + argument);
        return true;
      });
    }
    if (verb == QLatin1String("click")) {
      return WaitFor(QStringLiteral("the button ") + argument, [argument] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
          for (QAbstractButton* button : window->findChildren<QAbstractButton*>(argument)) {
            if (button->isVisible() && button->isEnabled()) {
              QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
              return true;
            }
          }
        }
        return false;
      });
    }
    if (verb == QLatin1String("image")) {
      const veilora::TBitmap* bitmap = child != nullptr ? child->ImageIO1.Bitmap() : nullptr;
      if (bitmap == nullptr) return Fail(QStringLiteral("no document to describe the picture of"));
      Write(QStringLiteral("image: %1x%2 %3")
                .arg(bitmap->Width())
                .arg(bitmap->Height())
                .arg(veilora::BitsPerPixel(bitmap->PixelFormat())));
      return Continue();
    }
    if (verb == QLatin1String("log")) {
      Write(QStringLiteral("log ") + argument);
      return Continue();
    }
    if (verb == QLatin1String("wait-file")) {
      return WaitFor(QStringLiteral("the file ") + argument, [argument] { return QFile::exists(argument); });
    }
    if (verb == QLatin1String("wait-documents")) {
      const int wanted = argument.toInt();
      return WaitFor(QStringLiteral("%1 documents").arg(wanted), [this, wanted] {
        return form_.MDIChildCount() == wanted && QApplication::activeModalWidget() == nullptr;
      });
    }
    if (verb == QLatin1String("wait-pane")) {
      const QByteArray wanted = argument.toUtf8();
      return WaitFor(QStringLiteral("the text pane to hold \"%1\"").arg(argument), [this, wanted] {
        TMDIChild* active = form_.ActiveMDIChild();
        return active != nullptr && active->PaneBytes() == wanted;
      });
    }
    if (verb == QLatin1String("pane")) {
      if (child == nullptr) return Fail(QStringLiteral("no document to read the pane of"));
      Write(QStringLiteral("pane: ") + QString::fromUtf8(child->PaneBytes()));
      return Continue();
    }
    if (verb == QLatin1String("status")) {
      if (child == nullptr) return Fail(QStringLiteral("no document to read the status line of"));
      Write(QStringLiteral("status: ") + child->StatusText());
      return Continue();
    }
    if (verb == QLatin1String("image-origin")) {
      if (child == nullptr) return Fail(QStringLiteral("no document to find the picture of"));
      veilora::TImageView& view = *child->ImageView1;
      const QPoint origin =
          view.viewport()->mapToGlobal(QPoint(view.BitmapToScreenX(0), view.BitmapToScreenY(0)));
      Write(QStringLiteral("image-origin %1 %2 %3").arg(origin.x()).arg(origin.y()).arg(view.Zoom()));
      return Continue();
    }
    if (verb == QLatin1String("screenshot")) {
      QScreen* screen = QGuiApplication::primaryScreen();
      if (screen == nullptr || !screen->grabWindow(0).save(argument, "PNG")) {
        return Fail(QStringLiteral("cannot grab the screen into ") + argument);
      }
      return Continue();
    }
    if (verb == QLatin1String("sleep")) {
      QTimer::singleShot(argument.toInt(), this, [this] { Next(); });
      return;
    }
    if (verb == QLatin1String("quit")) {
      QMetaObject::invokeMethod(&form_, &QWidget::close, Qt::QueuedConnection);
      return;
    }
    Fail(QStringLiteral("unknown step ") + verb);
  }

  TMainForm& form_;
  QFile log_;
  QStringList steps_;
  qsizetype index_ = 0;
  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Veilora"));

  TMainForm mainForm;
  QApplication::setWindowIcon(mainForm.windowIcon());
  mainForm.showMaximized();
  // Without a window manager (a bare X server) nobody honours the maximised state; the frame then
  // takes the screen's free area itself.
  QTimer::singleShot(kMaximiseCheckDelay, &mainForm, [&mainForm] {
    const QScreen* screen = mainForm.screen();
    if (screen == nullptr || !mainForm.isMaximized()) return;
    const QRect area = screen->availableGeometry();
    if (mainForm.frameGeometry().width() < area.width() * 9 / 10 ||
        mainForm.frameGeometry().height() < area.height() * 9 / 10) {
      mainForm.setGeometry(area);
    }
  });

  const QStringList files = QApplication::arguments().mid(1);
  if (!files.isEmpty()) {
    QTimer::singleShot(0, &mainForm, [&mainForm, files] {
      for (const QString& file : files) mainForm.OpenFile(file);
    });
  }

  std::unique_ptr<TScriptRunner> runner;
  if (const char* script = std::getenv("VEILORA_SCRIPT"); script != nullptr && *script != '\0') {
    const char* log = std::getenv("VEILORA_SCRIPT_LOG");
    const QString scriptName = QString::fromLocal8Bit(script);
    runner = std::make_unique<TScriptRunner>(
        mainForm, scriptName,
        log != nullptr && *log != '\0' ? QString::fromLocal8Bit(log) : scriptName + QStringLiteral(".log"));
    runner->Start();
  }
  return QApplication::exec();
}
