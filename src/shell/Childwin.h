#pragma once

// The document window: one image in a view, the hidden-text pane below it, the tool bar with
// Read, Write, Clear, Encrypt, Decrypt and Protect, and the status line with the image's capacity
// and the bytes the pane's message needs of those that fit. The main
// window puts it into a QMdiSubWindow and reaches it through ImageView1, ImageProc1, ImageIO1, its
// caption and its modified flag.

#include <QByteArray>
#include <QString>
#include <QWidget>
#include <optional>
#include <string>

#include "image/ImageProc.h"
#include "io/ImageIO.h"

class QLabel;
class QMenu;
class QAction;
class QSplitter;
class QStatusBar;
class QToolBar;
class QToolButton;
class TFlatMemo;
class TMDIChild;

namespace veilora {
class TImageView;
}
using veilora::TImageView;

// What a document window needs from the main window.
class TDocumentHost {
 public:
  virtual ~TDocumentHost() = default;
  // Enables or disables the main window's Undo item and its speed button.
  virtual void SetUndoEnabled(bool enabled) = 0;
  // Moves the main window's progress bar.
  virtual void SetProgress(int percentage) = 0;
  // The main window's Save for this window (to the file its caption names, or to a name it asks
  // for when the document was never saved); false when it failed or the user gave up.
  virtual bool SaveDocument(TMDIChild& child) = 0;
};

// The modified flag reads and assigns like a bool, and keeps the window title's [*] mark in step.
class TModifiedFlag {
 public:
  explicit TModifiedFlag(QWidget& window) : window_(window) {}
  TModifiedFlag(const TModifiedFlag&) = delete;
  TModifiedFlag& operator=(const TModifiedFlag&) = delete;
  TModifiedFlag& operator=(bool value);
  operator bool() const { return value_; }  // NOLINT(google-explicit-constructor): reads as a bool

 private:
  QWidget& window_;
  bool value_ = false;
};

class TMDIChild : public QWidget {
  Q_OBJECT

 public:
  explicit TMDIChild(TDocumentHost* host, QWidget* parent = nullptr);
  ~TMDIChild() override;

  // Owned by the window (a child widget); the components below are attached to it.
  TImageView* ImageView1 = nullptr;
  veilora::TImageProc ImageProc1;
  veilora::TImageIO ImageIO1;

  QToolBar* ToolBar1 = nullptr;
  QToolButton* ToolButton2 = nullptr;  // Read
  QToolButton* ToolButton3 = nullptr;  // Write
  QToolButton* ToolButton4 = nullptr;  // Clear
  QToolButton* ToolButton7 = nullptr;  // Encrypt
  QToolButton* ToolButton8 = nullptr;  // Decrypt
  QToolButton* ToolButton9 = nullptr;  // Protect: Write under a passphrase
  QSplitter* Splitter1 = nullptr;
  TFlatMemo* Hiddenmemo = nullptr;
  QStatusBar* StatusBar = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* LoadFile1 = nullptr;
  QAction* Saveas1 = nullptr;

  // Set by every change of the image, cleared when the document is created and when it is saved.
  TModifiedFlag Modified{*this};

  // True while the caption names no file of this image: a new document, or a damaged file that
  // opened with what could be read. Save then asks for a name, so it never overwrites the original.
  bool NeverSaved = true;

  // The image's file name, which the save commands write to; also the window title.
  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);

  // The text of the status line.
  QString StatusText() const;
  // The status line's second part: the bytes the message needs and the bytes that really fit.
  QString FitText() const;

  // Runs when the window is first shown: empties the pane and reports the capacity.
  void FormShow();
  // The closing question; true when the window may close. Yes saves through the host first, and a
  // failed save keeps the window open.
  bool FormCloseQuery();

  // The pane's text as bytes, through the pane's byte mapping: line breaks as CR LF, and a text
  // set from bytes ends at the first zero byte.
  QByteArray PaneBytes() const;
  void SetPaneBytes(const QByteArray& bytes);

  void ToolButton2Click();  // Read
  void ToolButton3Click();  // Write
  void ToolButton4Click();  // Clear
  void ToolButton7Click();  // Encrypt
  void ToolButton8Click();  // Decrypt
  // Asks for a passphrase twice, seals the message under it and writes the sealed bytes; Read
  // recognises them and asks for the passphrase.
  void ToolButton9Click();
  void LoadFile1Click();
  void Saveas1Click();
  void ImageView1ImageChange();
  void ImageView1Progress(int percentage);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void RefreshStatusLine();
  void RefreshFitText();
  // Puts the message of a passphrase envelope into the pane, asking for the passphrase.
  void OpenProtectedText(const std::string& envelope);
  void SetCipherState(bool encrypted);
  // Puts bytes the program made (read or transformed) into the pane, remembering them exactly.
  void SetPaneBytesExact(const QByteArray& bytes);
  // The message as the commands use it: the exact bytes last put in by the program while the user
  // has not edited the pane since, else the pane's text.
  QByteArray MessageBytes() const;

  TDocumentHost* host_;
  QString caption_;
  QLabel* statusLabel_ = nullptr;
  QLabel* fitLabel_ = nullptr;
  bool shownOnce_ = false;
  bool settingPane_ = false;
  std::optional<QByteArray> exactBytes_;
};
