#include "shell/Main.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QScopedValueRollback>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "dialogs/DialogFilter.h"
#include "dialogs/SaveOptionsForm.h"
#include "image/Display.h"
#include "image/SelectionEditing.h"
#include "io/FormatRegistry.h"
#include "io/HiddenTextSave.h"
#include "io/IOParams.h"
#include "io/ImageIO.h"
#include "io/LzwCoders.h"
#include "shell/FlatMemo.h"
#include "shell/PainterMetafileDevice.h"
#include "shell/Prompter.h"
#include "shell/Resources.h"
#include "shell/SystemClipboard.h"
#include "view/Cursors.h"
#include "view/ImageView.h"

namespace {

constexpr int kSpeedPanelHeight = 30;
constexpr int kSpeedButtonSize = 25;
constexpr int kGlyphSize = 16;
constexpr int kProgressPanelHeight = 16;
constexpr int kMakerLabelWidth = 172;
constexpr int kFormFontPixels = 11;
constexpr int kNewImageSide = 300;
// The client area a loaded document's window opens with.
constexpr QSize kLoadedClientSize(454, 412);
// The window a new document opens in, frame included.
constexpr QSize kNewWindowSize(462, 439);
constexpr int kTrackBarMin = 1;
constexpr int kTrackBarMax = 2000;
constexpr int kTrackBarTick = 100;
constexpr int kDefaultTypedZoom = 100;
constexpr const char* kHintProperty = "veiloraHint";

// A hint is "short|long": the short part is the tool tip, the long part goes to the status line.
// A hint without "|" is both.
QString HintShortPart(const QString& hint) {
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  return bar < 0 ? hint : hint.left(bar);
}

QString HintLongPart(const QString& hint) {
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  return bar < 0 ? hint : hint.mid(bar + 1);
}

QFrame* Divider(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::VLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setFixedWidth(8);
  return line;
}

// File names reach the core as the local file system's bytes.
std::string LocalName(const QString& fileName) {
  return QFile::encodeName(fileName).toStdString();
}

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  InitVeiloraResources();
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Veilora - https://veilora.org"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/veilora.svg")));
  resize(704, 485);
  QFont formFont = font();
  formFont.setFamilies({QStringLiteral("MS Sans Serif"), formFont.family()});
  formFont.setPixelSize(kFormFontPixels);
  setFont(formFont);
  setAcceptDrops(true);

  // The codecs copy the LZW hooks into every parameter record they make, so the hooks must hold the
  // coders before the first document exists.
  veilora::InstallLzwCoders();
  veilora::SetSaveOptionsDialog(&SaveOptionsFormDialog());
  InstallMetafilePlayer();
  veilora::SetClipboard(&systemClipboard_);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const int dpiX = static_cast<int>(std::lround(screen->logicalDotsPerInchX()));
    const int dpiY = static_cast<int>(std::lround(screen->logicalDotsPerInchY()));
    if (dpiX > 0 && dpiY > 0) {
      veilora::DefaultResolution() = {dpiX, dpiY};
      veilora::SetScreenDpi(dpiX);
    }
  }
  veilora::InstallSystemColoursFromPalette();

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  setCentralWidget(central);

  CreateMenus();
  CreateSpeedPanel();
  ClientArea = new QMdiArea(central);
  ClientArea->setObjectName(QStringLiteral("ClientArea"));
  ClientArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  ClientArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  CreateProgressPanel();
  layout->addWidget(SpeedPanel);
  layout->addWidget(ClientArea, 1);
  layout->addWidget(Panel1);

  StatusBar = statusBar();
  StatusBar->setObjectName(QStringLiteral("StatusBar"));

  connect(ClientArea, &QMdiArea::subWindowActivated, this, [this] { UpdateMenuItems(); });
  UpdateMenuItems();
}

TMainForm::~TMainForm() {
  // The document windows go after this body; their deactivation must not reach a half-destroyed
  // main window.
  disconnect(ClientArea, nullptr, this, nullptr);
  veilora::SetClipboard(nullptr);
}

void TMainForm::CreateMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  connect(bar, &QMenuBar::hovered, this, [this](QAction* action) { ShowHint(action->statusTip()); });

  const auto addMenu = [this, bar](const char* name, const QString& caption, const QString& hint) {
    QMenu* menu = bar->addMenu(caption);
    menu->setObjectName(QString::fromLatin1(name));
    menu->menuAction()->setObjectName(QString::fromLatin1(name));
    menu->menuAction()->setStatusTip(hint);
    connect(menu, &QMenu::hovered, this, [this](QAction* action) { ShowHint(action->statusTip()); });
    return menu;
  };
  const auto addItem = [this](QMenu* menu, const char* name, const QString& caption,
                              const QKeySequence& shortcut, const QString& hint,
                              void (TMainForm::*handler)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    action->setStatusTip(hint);
    if (handler != nullptr) connect(action, &QAction::triggered, this, handler);
    return action;
  };

  File1 = addMenu("File1", tr("&File"), tr("File related commands"));
  FileNewItem = addItem(File1, "FileNewItem", tr("&New"), QKeySequence(QStringLiteral("Ctrl+N")),
                        tr("Create a new file"), &TMainForm::FileNewItemClick);
  File1->addSeparator();
  Selectscanner1 =
      addItem(File1, "Selectscanner1", tr("&Select scanner"), {}, {}, &TMainForm::Selectscanner1Click);
  Acquire1 = addItem(File1, "Acquire1", tr("&Acquire"), {}, {}, &TMainForm::Acquire1Click);
  File1->addSeparator();
  FileOpenItem = addItem(File1, "FileOpenItem", tr("&Open"), QKeySequence(QStringLiteral("Ctrl+O")),
                         tr("Open an existing file"), &TMainForm::FileOpenItemClick);
  FileCloseItem = addItem(File1, "FileCloseItem", tr("&Close"), {}, tr("Close current file"),
                          &TMainForm::FileCloseItemClick);
  FileSaveItem = addItem(File1, "FileSaveItem", tr("&Save"), QKeySequence(QStringLiteral("Ctrl+S")),
                         tr("Save current file"), &TMainForm::FileSaveItemClick);
  FileSaveAsItem = addItem(File1, "FileSaveAsItem", tr("Save &As..."), {}, tr("Save current file as..."),
                           &TMainForm::FileSaveAsItemClick);
  File1->addSeparator();
  FileExitItem = addItem(File1, "FileExitItem", tr("E&xit"), QKeySequence(QStringLiteral("Alt+F4")),
                         tr("Exit the application"), &TMainForm::FileExitItemClick);

  Edit1 = addMenu("Edit1", tr("&Edit"), {});
  Undo1 = addItem(Edit1, "Undo1", tr("&Undo"), {}, {}, &TMainForm::Undo1Click);
  Edit1->addSeparator();
  // While the text pane has the focus it takes these keys for its own text.
  CutItem = addItem(Edit1, "CutItem", tr("Cu&t"), QKeySequence(QStringLiteral("Ctrl+X")),
                    tr("Cut to clipboard"), &TMainForm::CutItemClick);
  CopyItem = addItem(Edit1, "CopyItem", tr("&Copy"), QKeySequence(QStringLiteral("Ctrl+C")),
                     tr("Copy to clipboard"), &TMainForm::CopyItemClick);
  PasteItem = addItem(Edit1, "PasteItem", tr("&Paste"), QKeySequence(QStringLiteral("Ctrl+V")),
                      tr("Paste from clipboard"), &TMainForm::PasteItemClick);
  PastetoRect1 = addItem(Edit1, "PastetoRect1", tr("P&aste to Rect"), {}, {}, &TMainForm::PastetoRect1Click);
  Edit1->addSeparator();
  Crop1 = addItem(Edit1, "Crop1", tr("Crop"), {}, {}, &TMainForm::Crop1Click);
  Unselect1 = addItem(Edit1, "Unselect1", tr("&Unselect"), {}, tr("Remove the selection"),
                      &TMainForm::Unselect1Click);

  Image1 = addMenu("Image1", tr("&Image"), {});
  Converttotruecolours1 = addItem(Image1, "Converttotruecolours1", tr("Convert to True Colours"), {}, {},
                                  &TMainForm::Converttotruecolours1Click);
  CalcColours1 = addItem(Image1, "CalcColours1", tr("Calc Colours"), {}, {}, &TMainForm::CalcColours1Click);
  Image1->addSeparator();
  Resize1 = addItem(Image1, "Resize1", tr("&Resize"), {}, {}, nullptr);
  Resample1 = addItem(Image1, "Resample1", tr("Re&sample"), {}, {}, nullptr);
  Clear1 = addItem(Image1, "Clear1", tr("&Clear"), {}, {}, &TMainForm::Clear1Click);

  Tools1 = addMenu("Tools1", tr("&Tools"), {});
  Zoomproperties1 = addItem(Tools1, "Zoomproperties1", tr("Zoom properties..."), {}, {}, nullptr);

  Window1 = addMenu("Window1", tr("&Window"), tr("Window related commands such as Tile and Cascade"));
  WindowCascadeItem = addItem(Window1, "WindowCascadeItem", tr("&Cascade"), {},
                              tr("Arrange windows to overlap"), &TMainForm::WindowCascadeItemClick);
  WindowTileItem = addItem(Window1, "WindowTileItem", tr("&Tile"), {}, tr("Arrange windows without overlap"),
                           &TMainForm::WindowTileItemClick);
  WindowArrangeItem =
      addItem(Window1, "WindowArrangeItem", tr("&Arrange Icons"), {},
              tr("Arrange window icons at bottom of main window"), &TMainForm::WindowArrangeItemClick);
  WindowMinimizeItem = addItem(Window1, "WindowMinimizeItem", tr("&Minimize All"), {},
                               tr("Minimize all windows"), &TMainForm::WindowMinimizeItemClick);
  connect(Window1, &QMenu::aboutToShow, this, &TMainForm::FillWindowMenu);

  FileSaveItem->setEnabled(false);
  FileSaveAsItem->setEnabled(false);
  CutItem->setEnabled(false);
  CopyItem->setEnabled(false);
  PasteItem->setEnabled(false);
  PastetoRect1->setEnabled(false);
}

QToolButton* TMainForm::AddSpeedButton(const char* objectName, const QString& hint, const char* icon) {
  auto* button = new QToolButton(SpeedPanel);
  button->setObjectName(QString::fromLatin1(objectName));
  button->setAutoRaise(true);
  button->setFixedSize(kSpeedButtonSize, kSpeedButtonSize);
  button->setIcon(QIcon(QString::fromLatin1(icon)));
  button->setIconSize(QSize(kGlyphSize, kGlyphSize));
  button->setFocusPolicy(Qt::NoFocus);
  SetHint(button, hint);
  return button;
}

void TMainForm::CreateSpeedPanel() {
  SpeedPanel = new QFrame(centralWidget());
  SpeedPanel->setObjectName(QStringLiteral("SpeedPanel"));
  SpeedPanel->setFixedHeight(kSpeedPanelHeight);
  auto* row = new QHBoxLayout(SpeedPanel);
  row->setContentsMargins(2, 0, 2, 0);
  row->setSpacing(0);

  SpeedButton1 = AddSpeedButton("SpeedButton1", tr("New|"), ":/icons/new.svg");
  OpenBtn = AddSpeedButton("OpenBtn", tr("Open|"), ":/icons/open.svg");
  SaveBtn = AddSpeedButton("SaveBtn", tr("Save|"), ":/icons/save.svg");
  CutBtn = AddSpeedButton("CutBtn", tr("Cut|"), ":/icons/cut.svg");
  CopyBtn = AddSpeedButton("CopyBtn", tr("Copy|"), ":/icons/copy.svg");
  PasteBtn = AddSpeedButton("PasteBtn", tr("Paste|"), ":/icons/paste.svg");
  for (QToolButton* button : {SaveBtn, CutBtn, CopyBtn, PasteBtn}) button->setEnabled(false);
  connect(SpeedButton1, &QToolButton::clicked, this, &TMainForm::FileNewItemClick);
  connect(OpenBtn, &QToolButton::clicked, this, &TMainForm::FileOpenItemClick);
  connect(SaveBtn, &QToolButton::clicked, this, &TMainForm::FileSaveItemClick);

  ComboBox1 = new QComboBox(SpeedPanel);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->addItems({QStringLiteral("Fit"), QStringLiteral("25"), QStringLiteral("33"),
                       QStringLiteral("50"), QStringLiteral("100"), QStringLiteral("200"),
                       QStringLiteral("300"), QStringLiteral("400"), QStringLiteral("600"),
                       QStringLiteral("1600")});
  ComboBox1->setEditText(QString());
  ComboBox1->setFixedWidth(64);
  SetHint(ComboBox1, tr("Zoom|"));
  // While the user types, the zoom follows the text but the text is left alone, so the cursor and
  // the digits typed so far stay; Enter or leaving the box shows the zoom the view took.
  connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, [this] {
    const QScopedValueRollback<bool> typing(typingZoom_, true);
    ComboBox1Change();
  });
  connect(ComboBox1->lineEdit(), &QLineEdit::editingFinished, this, [this] {
    if (TMDIChild* child = ActiveMDIChild()) ShowZoom(child->ImageView1->Zoom());
  });
  connect(ComboBox1, &QComboBox::textActivated, this, [this] { ComboBox1Change(); });

  auto* percentLabel = new QLabel(QStringLiteral(" %"), SpeedPanel);
  percentLabel->setObjectName(QStringLiteral("Label1"));

  TrackBar1 = new QSlider(Qt::Horizontal, SpeedPanel);
  TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
  TrackBar1->setRange(kTrackBarMin, kTrackBarMax);
  TrackBar1->setValue(kTrackBarMin);
  TrackBar1->setTickInterval(kTrackBarTick);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  TrackBar1->setPageStep(kTrackBarTick);
  TrackBar1->setFixedWidth(150);
  SetHint(TrackBar1, tr("Zoom|"));
  connect(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });

  // Hand and Zoom form a group where at most one is down and both may be up. Their mouse modes come
  // with the view's mouse interaction.
  SpeedButton6 = AddSpeedButton("SpeedButton6", tr("Hand|"), ":/icons/hand.svg");
  SpeedButton7 = AddSpeedButton("SpeedButton7", tr("Zoom|"), ":/icons/zoom.svg");
  SpeedButton6->setCheckable(true);
  SpeedButton7->setCheckable(true);
  connect(SpeedButton6, &QToolButton::toggled, this, [this](bool down) {
    if (down) SpeedButton7->setChecked(false);
  });
  connect(SpeedButton7, &QToolButton::toggled, this, [this](bool down) {
    if (down) SpeedButton6->setChecked(false);
  });
  connect(SpeedButton6, &QToolButton::clicked, this, &TMainForm::SpeedButton5Click);
  connect(SpeedButton7, &QToolButton::clicked, this, &TMainForm::SpeedButton5Click);
  SpeedButton3 = AddSpeedButton("SpeedButton3", tr("Undo|"), ":/icons/undo.svg");
  connect(SpeedButton3, &QToolButton::clicked, this, &TMainForm::Undo1Click);

  WarningLabel = new QLabel(tr("Avoid saving files as JPG you will lose your data"), SpeedPanel);
  WarningLabel->setObjectName(QStringLiteral("Label2"));
  WarningLabel->setContentsMargins(6, 0, 0, 0);

  for (QWidget* widget :
       {static_cast<QWidget*>(SpeedButton1), static_cast<QWidget*>(OpenBtn), static_cast<QWidget*>(SaveBtn),
        static_cast<QWidget*>(CutBtn), static_cast<QWidget*>(CopyBtn), static_cast<QWidget*>(PasteBtn)}) {
    row->addWidget(widget);
  }
  row->addWidget(Divider(SpeedPanel));
  row->addWidget(ComboBox1);
  row->addWidget(percentLabel);
  row->addWidget(TrackBar1);
  row->addWidget(Divider(SpeedPanel));
  row->addWidget(SpeedButton6);
  row->addWidget(SpeedButton7);
  row->addWidget(SpeedButton3);
  row->addWidget(WarningLabel);
  row->addStretch(1);
}

void TMainForm::CreateProgressPanel() {
  Panel1 = new QWidget(centralWidget());
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedHeight(kProgressPanelHeight);
  auto* row = new QHBoxLayout(Panel1);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  ProgressBar1 = new QProgressBar(Panel1);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setFixedHeight(kProgressPanelHeight);

  MakerLabel = new QLabel(QStringLiteral("Veilora"), Panel1);
  MakerLabel->setObjectName(QStringLiteral("MakerLabel"));
  MakerLabel->setFixedWidth(kMakerLabelWidth);
  MakerLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakerLabel->setContentsMargins(0, 0, 4, 0);
  QFont makerFont(QStringLiteral("Times New Roman"));
  makerFont.setBold(true);
  makerFont.setItalic(true);
  makerFont.setPixelSize(13);
  MakerLabel->setFont(makerFont);

  row->addWidget(ProgressBar1, 1);
  row->addWidget(MakerLabel);
}

void TMainForm::SetHint(QWidget* widget, const QString& hint) {
  widget->setToolTip(HintShortPart(hint));
  widget->setProperty(kHintProperty, hint);
  widget->installEventFilter(this);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  // A control's hint is the application's hint while the mouse is over it; speed-button hints have
  // an empty long part, so the status line goes blank there.
  if (event->type() == QEvent::Enter) {
    ShowHint(watched->property(kHintProperty).toString());
  } else if (event->type() == QEvent::Leave) {
    ShowHint(QString());
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TMainForm::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    ShowHint(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

void TMainForm::ShowHint(const QString& hint) {
  const QString text = HintLongPart(hint);
  if (text.isEmpty()) {
    StatusBar->clearMessage();
  } else {
    StatusBar->showMessage(text);
  }
}

QString TMainForm::StatusText() const {
  return StatusBar->currentMessage();
}

TMDIChild* TMainForm::ActiveMDIChild() const {
  // The current window stays known while the frame itself is not the active window.
  QMdiSubWindow* sub = ClientArea->currentSubWindow();
  if (sub == nullptr) sub = ClientArea->activeSubWindow();
  return sub != nullptr ? qobject_cast<TMDIChild*>(sub->widget()) : nullptr;
}

QList<TMDIChild*> TMainForm::MDIChildren() const {
  QList<TMDIChild*> children;
  for (QMdiSubWindow* sub : ClientArea->subWindowList(QMdiArea::CreationOrder)) {
    if (auto* child = qobject_cast<TMDIChild*>(sub->widget())) children << child;
  }
  return children;
}

QMdiSubWindow* TMainForm::SubWindowOf(const TMDIChild* child) const {
  for (QMdiSubWindow* sub : ClientArea->subWindowList()) {
    if (sub->widget() == child) return sub;
  }
  return nullptr;
}

TMDIChild* TMainForm::CreateDocument(const QString& name, bool isNew) {
  auto* child = new TMDIChild(this);
  child->SetCaption(name);
  const bool load = !isNew && QFileInfo(name).isFile();
  QString damage;
  if (load) {
    QString reason;
    try {
      child->ImageIO1.LoadFromFile(LocalName(name));
      // A reader that kept part of the picture says what was wrong; anything else is a failure.
      const veilora::TBitmap* bitmap = child->ImageIO1.Bitmap();
      if (child->ImageIO1.Aborting && !child->ImageIO1.Damage.empty() && bitmap != nullptr &&
          !bitmap->Empty()) {
        damage = QString::fromStdString(child->ImageIO1.Damage);
      } else if (child->ImageIO1.Aborting) {
        reason = tr("the file is damaged or not in a format Veilora reads");
      }
    } catch (const std::exception& error) {
      reason = QString::fromLocal8Bit(error.what());
    }
    SetProgress(0);
    if (!reason.isEmpty()) {
      delete child;
      UpdateMenuItems();
      Prompter().ShowError(this, tr("Cannot open %1: %2").arg(name, reason));
      return nullptr;
    }
    // The damaged original must not be overwritten by a plain Save.
    child->NeverSaved = !damage.isEmpty();
  } else {
    child->ImageProc1.SetImageSize(kNewImageSide, kNewImageSide);
    child->ImageProc1.ClearUndo();
    SetUndoEnabled(false);
  }
  child->Modified = false;
  // A zoom that changes by other ways than the zoom controls shows in them too.
  connect(child->ImageView1, &TImageView::viewChanged, this, [this, child](int change) {
    if (change == 1 && !inZoomCommand_ && child == ActiveMDIChild()) ShowZoom(child->ImageView1->Zoom());
  });

  QMdiSubWindow* sub = ClientArea->addSubWindow(child);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  sub->setWindowIcon(windowIcon());
  sub->show();
  if (!sub->isMinimized() && !sub->isMaximized()) {
    if (load) {
      if (sub->layout() != nullptr) sub->layout()->activate();
      sub->resize(sub->size() - child->size() + kLoadedClientSize);
    } else {
      sub->resize(kNewWindowSize);
    }
  }
  ClientArea->setActiveSubWindow(sub);
  // The message is what the user types next.
  child->Hiddenmemo->setFocus();
  UpdateMenuItems();
  if (!damage.isEmpty()) {
    Prompter().ShowWarning(this, tr("%1 is damaged: %2. Veilora shows the part it could read; Save will ask "
                                    "for a new name, so the original stays as it is.")
                                     .arg(name, damage));
  }
  return child;
}

TMDIChild* TMainForm::OpenFile(const QString& fileName) {
  if (!QFileInfo(fileName).isFile()) {
    Prompter().ShowError(this, tr("Cannot open %1: there is no such file").arg(fileName));
    return nullptr;
  }
  return CreateDocument(fileName, false);
}

template <typename Command>
void TMainForm::RunCommand(Command&& command) {
  // The application's general error report: a failure ends the command with its text in the error
  // box, and the program goes on. No exception may leave a Qt event handler.
  try {
    command();
  } catch (const std::exception& error) {
    SetProgress(0);
    Prompter().ShowError(this, QString::fromLocal8Bit(error.what()));
  }
}

void TMainForm::FileNewItemClick() {
  RunCommand([this] { CreateDocument(QStringLiteral("New%1.jpg").arg(MDIChildCount() + 1), true); });
}

void TMainForm::FileOpenItemClick() {
  const std::optional<QString> fileName = Prompter().OpenImageFile(this);
  if (fileName && !fileName->isEmpty()) CreateDocument(*fileName, false);
}

void TMainForm::FileCloseItemClick() {
  if (QMdiSubWindow* sub = SubWindowOf(ActiveMDIChild())) sub->close();
}

bool TMainForm::WriteDocument(TMDIChild& child, const QString& fileName) {
  const std::string localName = LocalName(fileName);
  const std::string extension = veilora::LowerExtension(localName);
  const std::int32_t fileType = veilora::SaveTypeForExtension(extension);
  const veilora::TFileFormatInfo* registered = fileType == veilora::ftUnknown && !extension.empty()
                                                   ? veilora::FormatByExtension(extension.substr(1))
                                                   : nullptr;
  // An extension no writer takes fails below with its own message; there is nothing to ask.
  if (fileType != veilora::ftUnknown || (registered != nullptr && registered->WriteFunction)) {
    const veilora::TBitmap* bitmap = child.ImageIO1.Bitmap();
    if (bitmap != nullptr && veilora::PrepareHiddenTextSave(*bitmap, fileType, child.ImageIO1.Params) ==
                                 veilora::THiddenTextSave::Destroyed) {
      const QString mode = QString::fromStdString(veilora::SaveModeName(fileType, child.ImageIO1.Params));
      if (!Prompter().AskYesNo(
              this, tr("Saving as %1 will destroy the hidden text in this image. Save anyway?").arg(mode)))
        return false;
    }
  }
  QString failure;
  try {
    child.ImageIO1.SaveToFile(localName);
    if (child.ImageIO1.Aborting) {
      failure = tr("Cannot save %1: Veilora cannot write the image in the format its extension names")
                    .arg(fileName);
    }
  } catch (const std::exception& error) {
    failure = QString::fromLocal8Bit(error.what());
  }
  SetProgress(0);
  if (!failure.isEmpty()) {
    Prompter().ShowError(this, failure);
    return false;
  }
  child.Modified = false;
  child.NeverSaved = false;
  return true;
}

bool TMainForm::SaveDocument(TMDIChild& child) {
  if (child.NeverSaved) return SaveDocumentAs(child);
  return WriteDocument(child, child.Caption());
}

bool TMainForm::SaveDocumentAs(TMDIChild& child) {
  QPointer<TMDIChild> guard = &child;
  // A document that has no file of its own is offered a lossless format that keeps a hidden text.
  const QString proposed =
      child.NeverSaved
          ? QString::fromStdString(veilora::ReplaceExtension(child.Caption().toStdString(), ".png"))
          : child.Caption();
  const std::optional<QString> fileName = Prompter().SaveImageFile(this, proposed, &child.ImageIO1);
  if (!fileName || fileName->isEmpty() || guard == nullptr) return false;
  if (!WriteDocument(child, *fileName)) return false;
  child.SetCaption(*fileName);
  return true;
}

void TMainForm::FileSaveItemClick() {
  if (TMDIChild* child = ActiveMDIChild()) SaveDocument(*child);
}

void TMainForm::FileSaveAsItemClick() {
  if (TMDIChild* child = ActiveMDIChild()) SaveDocumentAs(*child);
}

void TMainForm::FileExitItemClick() {
  close();
}

void TMainForm::Selectscanner1Click() {
  TMDIChild* child = ActiveMDIChild();
  if (child == nullptr) return;
  RunCommand([this, child] {
    if (!child->ImageIO1.SelectAcquireSource(this)) {
      const QString failure = tr(veilora::TwainFailureText(child->ImageIO1.TwainResult));
      if (!failure.isEmpty()) Prompter().ShowError(this, failure);
    }
  });
}

void TMainForm::Acquire1Click() {
  TMDIChild* child = ActiveMDIChild();
  if (child == nullptr) return;
  RunCommand([this, child] {
    // The frame is disabled while the source's dialog runs, so the document stays open.
    const bool acquired = child->ImageIO1.Acquire(this);
    SetProgress(0);
    const QString failure = tr(veilora::TwainFailureText(child->ImageIO1.TwainResult));
    if (!acquired && !failure.isEmpty()) Prompter().ShowError(this, failure);
  });
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Every document answers its closing question before any closes, so one Cancel leaves all of
  // them open, as well as the application.
  QList<QMdiSubWindow*> subs = ClientArea->subWindowList(QMdiArea::StackingOrder);
  std::reverse(subs.begin(), subs.end());
  for (QMdiSubWindow* sub : subs) {
    auto* child = qobject_cast<TMDIChild*>(sub->widget());
    if (child != nullptr && !child->FormCloseQuery()) {
      event->ignore();
      return;
    }
  }
  for (QMdiSubWindow* sub : subs) {
    // Answered above: saved, or the user chose not to.
    if (auto* child = qobject_cast<TMDIChild*>(sub->widget())) child->Modified = false;
    sub->close();
  }
  event->accept();
}

void TMainForm::Undo1Click() {
  TMDIChild* child = ActiveMDIChild();
  if (child == nullptr) return;
  RunCommand([this, child] {
    child->ImageProc1.Undo();
    child->ImageProc1.ClearUndo();
    SetUndoEnabled(false);
  });
}

void TMainForm::CutItemClick() {
  if (TMDIChild* child = ActiveMDIChild()) RunCommand([child] { child->ImageProc1.CutSelection(); });
}

void TMainForm::CopyItemClick() {
  if (TMDIChild* child = ActiveMDIChild()) RunCommand([child] { child->ImageProc1.CopySelection(); });
}

void TMainForm::PasteItemClick() {
  if (TMDIChild* child = ActiveMDIChild()) RunCommand([child] { child->ImageProc1.PasteImage(); });
}

void TMainForm::PastetoRect1Click() {
  if (TMDIChild* child = ActiveMDIChild()) RunCommand([child] { child->ImageProc1.PasteIntoSelection(); });
}

void TMainForm::Crop1Click() {
  TMDIChild* source = ActiveMDIChild();
  if (source == nullptr) return;
  RunCommand([this, source] {
    TMDIChild* crop = CreateDocument(QStringLiteral("%1.jpg").arg(MDIChildCount() + 1), true);
    if (crop == nullptr) return;
    // The crop marks the new document modified: closing it unsaved asks first.
    veilora::CopySelectionTo(*source->ImageView1, *crop->ImageView1);
  });
}

void TMainForm::Unselect1Click() {
  if (TMDIChild* child = ActiveMDIChild()) child->ImageView1->Unselect();
}

void TMainForm::SpeedButton5Click() {
  TMDIChild* child = ActiveMDIChild();
  if (child == nullptr) return;
  veilora::TImageView& view = *child->ImageView1;
  if (SpeedButton6->isChecked()) {
    view.SetMouseInteract(veilora::miScroll);
    view.SetCursor(veilora::crHand);
  } else if (SpeedButton7->isChecked()) {
    view.SetMouseInteract(veilora::miZoom | veilora::miScroll);
    view.SetCursor(veilora::crZoomIn);
  } else {
    // With both buttons up the document selects again; left in the hand's mode it could never
    // make a selection any more.
    if (view.MouseInteract() != veilora::miSelect) {
      view.SetMouseInteract(veilora::miSelect);
      view.SetCursor(veilora::crSelect);
    }
    view.ShowSelection(false);
  }
}

void TMainForm::Converttotruecolours1Click() {
  if (TMDIChild* child = ActiveMDIChild()) {
    RunCommand([child] { child->ImageProc1.ConvertToTrueColour(); });
    SetProgress(0);
  }
}

void TMainForm::CalcColours1Click() {
  if (TMDIChild* child = ActiveMDIChild()) {
    Prompter().ShowMessage(this, tr("The active images has ") +
                                     QString::number(child->ImageProc1.CalcColourCount()) + tr(" colors."));
  }
}

void TMainForm::Clear1Click() {
  if (TMDIChild* child = ActiveMDIChild()) RunCommand([child] { child->ImageProc1.ClearImage(); });
}

void TMainForm::WindowCascadeItemClick() {
  ClientArea->cascadeSubWindows();
}

void TMainForm::WindowTileItemClick() {
  ClientArea->tileSubWindows();
}

void TMainForm::WindowArrangeItemClick() {
  // Minimised windows line up from the bottom-left corner, rows growing upwards.
  const QRect area = ClientArea->viewport()->rect();
  int x = 0;
  int bottom = area.bottom() + 1;
  int rowHeight = 0;
  for (QMdiSubWindow* sub : ClientArea->subWindowList(QMdiArea::CreationOrder)) {
    if (!sub->isMinimized()) continue;
    const QSize size = sub->size();
    if (x > 0 && x + size.width() > area.width()) {
      x = 0;
      bottom -= rowHeight;
      rowHeight = 0;
    }
    sub->move(x, bottom - size.height());
    x += size.width();
    rowHeight = std::max(rowHeight, size.height());
  }
}

void TMainForm::WindowMinimizeItemClick() {
  const QList<QMdiSubWindow*> subs = ClientArea->subWindowList(QMdiArea::CreationOrder);
  for (auto it = subs.crbegin(); it != subs.crend(); ++it) (*it)->showMinimized();
}

void TMainForm::FillWindowMenu() {
  for (QAction* action : windowListActions_) {
    Window1->removeAction(action);
    delete action;
  }
  windowListActions_.clear();
  if (windowListSeparator_ != nullptr) {
    Window1->removeAction(windowListSeparator_);
    delete windowListSeparator_;
    windowListSeparator_ = nullptr;
  }
  const QList<TMDIChild*> children = MDIChildren();
  if (children.isEmpty()) return;
  windowListSeparator_ = Window1->addSeparator();
  const TMDIChild* active = ActiveMDIChild();
  int number = 1;
  for (TMDIChild* child : children) {
    QString caption = child->Caption();
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction* action =
        Window1->addAction(number <= 9 ? QStringLiteral("&%1 %2").arg(number).arg(caption) : caption);
    action->setCheckable(true);
    action->setChecked(child == active);
    QPointer<TMDIChild> target = child;
    connect(action, &QAction::triggered, this, [this, target] {
      if (target == nullptr) return;
      if (QMdiSubWindow* sub = SubWindowOf(target)) {
        if (sub->isMinimized()) sub->showNormal();
        ClientArea->setActiveSubWindow(sub);
      }
    });
    windowListActions_ << action;
    ++number;
  }
}

void TMainForm::ShowZoom(int zoom) {
  const QSignalBlocker blockTrackBar(TrackBar1);
  ComboBox1->setEditText(QString::number(zoom));
  TrackBar1->setValue(zoom);
}

void TMainForm::TrackBar1Change() {
  if (changingZoom_) return;
  TMDIChild* child = ActiveMDIChild();
  if (child == nullptr) return;
  const QScopedValueRollback<bool> zoomCommand(inZoomCommand_, true);
  child->ImageView1->SetZoom(TrackBar1->value());
  if (typingZoom_) return;
  changingZoom_ = true;
  ComboBox1->setEditText(QString::number(child->ImageView1->Zoom()));
  changingZoom_ = false;
}

void TMainForm::ComboBox1Change() {
  if (changingZoom_) return;
  TMDIChild* child = ActiveMDIChild();
  if (child == nullptr) return;
  const QScopedValueRollback<bool> zoomCommand(inZoomCommand_, true);
  const QString text = ComboBox1->currentText();
  if (text == QLatin1String("Fit")) {
    child->ImageView1->ZoomToFit();
    TrackBar1->setValue(child->ImageView1->Zoom());
    return;
  }
  bool isNumber = false;
  int zoom = text.toInt(&isNumber);
  if (!isNumber) zoom = kDefaultTypedZoom;
  // The track bar clamps the value to its range; its own change handler runs when it moves.
  TrackBar1->setValue(zoom);
  child->ImageView1->SetZoom(TrackBar1->value());
}

void TMainForm::UpdateMenuItems() {
  const bool any = MDIChildCount() > 0;
  for (QAction* action :
       {FileCloseItem, FileSaveItem, FileSaveAsItem, CutItem, CopyItem, PasteItem, PastetoRect1,
        WindowCascadeItem, WindowTileItem, WindowArrangeItem, WindowMinimizeItem, Undo1, Resize1, Resample1,
        Clear1, Selectscanner1, Acquire1, Unselect1}) {
    action->setEnabled(any);
  }
  for (QWidget* widget :
       {static_cast<QWidget*>(SaveBtn), static_cast<QWidget*>(CutBtn), static_cast<QWidget*>(CopyBtn),
        static_cast<QWidget*>(PasteBtn), static_cast<QWidget*>(ComboBox1), static_cast<QWidget*>(TrackBar1),
        static_cast<QWidget*>(SpeedButton3), static_cast<QWidget*>(SpeedButton6),
        static_cast<QWidget*>(SpeedButton7)}) {
    widget->setEnabled(any);
  }
  // A newly activated view takes the mode of the Hand and Zoom buttons.
  SpeedButton5Click();
  if (!any) return;
  if (TMDIChild* child = ActiveMDIChild()) {
    ShowZoom(child->ImageView1->Zoom());
    SetUndoEnabled(child->ImageProc1.CanUndo());
  }
}

void TMainForm::SetUndoEnabled(bool enabled) {
  // The speed button follows the item, so neither offers an undo that is not there.
  Undo1->setEnabled(enabled);
  SpeedButton3->setEnabled(enabled);
}

void TMainForm::SetProgress(int percentage) {
  ProgressBar1->setValue(std::clamp(percentage, 0, 100));
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (mime == nullptr || !mime->hasUrls()) return;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) {
      event->acceptProposedAction();
      return;
    }
  }
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (mime == nullptr || !mime->hasUrls()) return;
  event->acceptProposedAction();
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) OpenFile(url.toLocalFile());
  }
}
