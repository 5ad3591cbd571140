#pragma once

// The main window: the multiple-document frame with its menus, the speed-button bar with the zoom
// controls, the progress strip and the status line. It creates the document windows for new and
// opened images and applies every command to the active one; it holds no document state itself.

#include <QList>
#include <QMainWindow>
#include <QString>

#include "scan/ui/QtTwainHost.h"
#include "shell/Childwin.h"
#include "shell/SystemClipboard.h"

class QAction;
class QComboBox;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QSlider;
class QStatusBar;
class QToolButton;

class TMainForm : public QMainWindow, public TDocumentHost {
  Q_OBJECT

 public:
  // The create handler's work happens here: hints to the status line, the update of items on every
  // change of the active document, the LZW coders, the screen's resolution and colours.
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  QMenu* File1 = nullptr;
  QAction* FileNewItem = nullptr;
  QAction* Selectscanner1 = nullptr;
  QAction* Acquire1 = nullptr;
  QAction* FileOpenItem = nullptr;
  QAction* FileCloseItem = nullptr;
  QAction* FileSaveItem = nullptr;
  QAction* FileSaveAsItem = nullptr;
  QAction* FileExitItem = nullptr;
  QMenu* Edit1 = nullptr;
  QAction* Undo1 = nullptr;
  QAction* CutItem = nullptr;
  QAction* CopyItem = nullptr;
  QAction* PasteItem = nullptr;
  QAction* PastetoRect1 = nullptr;
  QAction* Crop1 = nullptr;
  QAction* Unselect1 = nullptr;
  QMenu* Image1 = nullptr;
  QAction* Converttotruecolours1 = nullptr;
  QAction* CalcColours1 = nullptr;
  QAction* Resize1 = nullptr;
  QAction* Resample1 = nullptr;
  QAction* Clear1 = nullptr;
  QMenu* Tools1 = nullptr;
  QAction* Zoomproperties1 = nullptr;
  QMenu* Window1 = nullptr;
  QAction* WindowCascadeItem = nullptr;
  QAction* WindowTileItem = nullptr;
  QAction* WindowArrangeItem = nullptr;
  QAction* WindowMinimizeItem = nullptr;

  QWidget* SpeedPanel = nullptr;
  QToolButton* SpeedButton1 = nullptr;  // New
  QToolButton* OpenBtn = nullptr;
  QToolButton* SaveBtn = nullptr;
  QToolButton* CutBtn = nullptr;
  QToolButton* CopyBtn = nullptr;
  QToolButton* PasteBtn = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QSlider* TrackBar1 = nullptr;
  QToolButton* SpeedButton6 = nullptr;  // Hand
  QToolButton* SpeedButton7 = nullptr;  // Zoom
  QToolButton* SpeedButton3 = nullptr;  // Undo
  QLabel* WarningLabel = nullptr;
  QMdiArea* ClientArea = nullptr;
  QWidget* Panel1 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QLabel* MakerLabel = nullptr;
  QStatusBar* StatusBar = nullptr;

  // The active document window, or nullptr.
  TMDIChild* ActiveMDIChild() const;
  // The open document windows, oldest first.
  QList<TMDIChild*> MDIChildren() const;
  int MDIChildCount() const { return static_cast<int>(MDIChildren().size()); }

  // Makes a document window named `name`. A new document, or a name that is no existing file, gets
  // a white 300 x 300 image; otherwise the file is loaded, and when that fails the user is told why
  // and no window stays (nullptr). A blank window under the file's name would let a later Save
  // overwrite the file that could not be read.
  TMDIChild* CreateDocument(const QString& name, bool isNew);
  // Opens an image file as a document (dropped files, files named on the command line).
  TMDIChild* OpenFile(const QString& fileName);

  void FileNewItemClick();
  void FileOpenItemClick();
  void FileCloseItemClick();
  void FileSaveItemClick();
  void FileSaveAsItemClick();
  void FileExitItemClick();
  // The scanner: choose the source, or acquire a picture from it into the active document.
  void Selectscanner1Click();
  void Acquire1Click();
  void Undo1Click();
  void CutItemClick();
  void CopyItemClick();
  void PasteItemClick();
  void PastetoRect1Click();
  // A new document named (number of documents) + ".jpg" takes the active document's selection, or
  // its whole image without one.
  void Crop1Click();
  void Unselect1Click();
  // The mouse mode of the Hand and Zoom buttons, given to the active document's view.
  void SpeedButton5Click();
  void Converttotruecolours1Click();
  void CalcColours1Click();
  void Clear1Click();
  void WindowCascadeItemClick();
  void WindowTileItemClick();
  void WindowArrangeItemClick();
  void WindowMinimizeItemClick();
  void TrackBar1Change();
  void ComboBox1Change();
  // Enables the commands by the number of documents and brings the zoom controls and the Undo item
  // in step with the active document.
  void UpdateMenuItems();

  // Shows a hint's long part (after "|", or the whole hint) on the status line.
  void ShowHint(const QString& hint);
  QString StatusText() const;

  // TDocumentHost
  void SetUndoEnabled(bool enabled) override;
  void SetProgress(int percentage) override;
  // Save: to the file the caption names, by its extension; a document that was never saved runs
  // Save As instead. A failure is shown in the error box and leaves the document modified; false
  // then, and when the user gave up.
  bool SaveDocument(TMDIChild& child) override;
  // Save As: asks for a name (a never-saved document is offered its name as a PNG) and saves there;
  // the caption takes the name only when the save succeeded.
  bool SaveDocumentAs(TMDIChild& child);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateMenus();
  void CreateSpeedPanel();
  void CreateProgressPanel();
  QToolButton* AddSpeedButton(const char* objectName, const QString& hint, const char* icon);
  void SetHint(QWidget* widget, const QString& hint);
  void FillWindowMenu();
  // Puts the zoom of the active view into the combo box and the track bar without running their
  // change handlers.
  void ShowZoom(int zoom);
  QMdiSubWindow* SubWindowOf(const TMDIChild* child) const;
  template <typename Command>
  void RunCommand(Command&& command);
  // Writes the document to fileName. When the save would destroy the image's hidden text, asks
  // first; No writes nothing. False when nothing was written.
  bool WriteDocument(TMDIChild& child, const QString& fileName);

  TSystemClipboard systemClipboard_;
  TQtTwainHost twainHost_;
  QAction* windowListSeparator_ = nullptr;
  QList<QAction*> windowListActions_;
  bool changingZoom_ = false;
  // While the zoom controls run their own change handlers, which keep them in step themselves.
  bool inZoomCommand_ = false;
  // While a change typed into the zoom box runs, which must not rewrite the text being typed.
  bool typingZoom_ = false;
};
