#include "shell/Childwin.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QSaveFile>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <string>

#include "hidden/Crypt32.h"
#include "hidden/Envelope.h"
#include "image/Display.h"
#include "io/SaveOptions.h"
#include "shell/FlatMemo.h"
#include "shell/Prompter.h"
#include "shell/Resources.h"
#include "view/ImageView.h"

namespace {

constexpr int kToolButtonWidth = 52;
constexpr int kToolButtonHeight = 39;
constexpr int kGlyphSize = 16;
constexpr int kSplitterWidth = 3;
constexpr int kPaneHeight = 109;
constexpr int kFontPixels = 13;

QFont ArialFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(kFontPixels);
  return font;
}

std::string_view View(const QByteArray& bytes) {
  return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QByteArray ToQByteArray(const std::string& bytes) {
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A passphrase is its UTF-8 bytes in composed form, so the same word typed on any keyboard, or
// stored in a file for the command-line program, gives the same key.
std::string PassphraseBytes(const QString& passphrase) {
  return passphrase.normalized(QString::NormalizationForm_C).toStdString();
}

// The key derivation takes a noticeable moment by design.
class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

}  // namespace

TModifiedFlag& TModifiedFlag::operator=(bool value) {
  value_ = value;
  window_.setWindowModified(value);
  return *this;
}

TMDIChild::TMDIChild(TDocumentHost* host, QWidget* parent) : QWidget(parent), host_(host) {
  InitVeiloraResources();
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("MDI Child[*]"));
  resize(462, 439);

  ToolBar1 = new QToolBar(this);
  ToolBar1->setFont(ArialFont());
  ToolBar1->setIconSize(QSize(kGlyphSize, kGlyphSize));
  const auto addButton = [this](const QString& caption, const char* icon, void (TMDIChild::*handler)()) {
    auto* button = new QToolButton(ToolBar1);
    button->setText(caption);
    button->setIcon(QIcon(QString::fromLatin1(icon)));
    button->setIconSize(QSize(kGlyphSize, kGlyphSize));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setFont(ArialFont());
    button->setFixedSize(kToolButtonWidth, kToolButtonHeight);
    ToolBar1->addWidget(button);
    connect(button, &QToolButton::clicked, this, handler);
    return button;
  };
  ToolButton2 = addButton(tr("Read"), ":/icons/child-read.svg", &TMDIChild::ToolButton2Click);
  ToolButton3 = addButton(tr("Write"), ":/icons/child-write.svg", &TMDIChild::ToolButton3Click);
  ToolButton4 = addButton(tr("Clear"), ":/icons/child-clear.svg", &TMDIChild::ToolButton4Click);
  ToolButton7 = addButton(tr("Encrypt"), ":/icons/child-encrypt.svg", &TMDIChild::ToolButton7Click);
  ToolButton8 = addButton(tr("Decrypt"), ":/icons/child-decrypt.svg", &TMDIChild::ToolButton8Click);
  ToolButton9 = addButton(tr("Protect"), ":/icons/child-protect.svg", &TMDIChild::ToolButton9Click);
  ToolButton9->setToolTip(tr("Write the text protected by a passphrase"));
  SetCipherState(false);

  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->setHandleWidth(kSplitterWidth);
  Splitter1->setChildrenCollapsible(false);

  ImageView1 = new TImageView(Splitter1);
  ImageView1->SetBackgroundStyle(veilora::bgsChessboard);
  ImageView1->SetBackground(veilora::clWhite);
  ImageView1->SetScrollBars(veilora::ssBoth);
  ImageView1->SetCenter(true);
  ImageView1->SetDoubleBuffer(true);
  ImageView1->SetMouseInteract(veilora::miSelect);
  ImageView1->OnImageChange = [this](veilora::TObject&) { ImageView1ImageChange(); };

  Hiddenmemo = new TFlatMemo(Splitter1);
  Hiddenmemo->setFont(ArialFont());
  Hiddenmemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  connect(Hiddenmemo, &QPlainTextEdit::textChanged, this, [this] {
    // The user edited the pane: what it shows is the message from now on.
    if (!settingPane_) exactBytes_.reset();
    RefreshFitText();
  });

  Splitter1->addWidget(ImageView1);
  Splitter1->addWidget(Hiddenmemo);
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 0);
  Splitter1->setSizes({height(), kPaneHeight});

  StatusBar = new QStatusBar(this);
  statusLabel_ = new QLabel(tr("Hidden text space: "), StatusBar);
  StatusBar->addWidget(statusLabel_, 1);
  fitLabel_ = new QLabel(StatusBar);
  StatusBar->addPermanentWidget(fitLabel_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(ToolBar1);
  layout->addWidget(Splitter1, 1);
  layout->addWidget(StatusBar);

  PopupMenu1 = new QMenu(this);
  LoadFile1 = PopupMenu1->addAction(tr("Load File"), this, &TMDIChild::LoadFile1Click);
  Saveas1 = PopupMenu1->addAction(tr("Save as"), this, &TMDIChild::Saveas1Click);
  Hiddenmemo->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Hiddenmemo, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
    // A scroll area reports the position in its viewport's coordinates.
    PopupMenu1->popup(Hiddenmemo->viewport()->mapToGlobal(position));
  });

  ImageProc1.SetAttachedView(ImageView1);
  ImageProc1.SetBackground(veilora::clWhite);
  ImageIO1.SetAttachedView(ImageView1);
  // The record took its defaults before it had a view; take them again now that the view gives a
  // resolution, so that a new image is not saved as 0 dpi. A PNG written from it names the view's
  // white as its background, not black.
  ImageIO1.Params.Reset();
  ImageIO1.Params.PngBackground = veilora::ColorToPixel(ImageView1->Background());
  ImageIO1.PreviewsParams = veilora::ioppDefaultLockPreview;
  ImageProc1.OnProgress = [this](veilora::TObject&, int percentage) { ImageView1Progress(percentage); };
  ImageIO1.OnProgress = [this](veilora::TObject&, int percentage) { ImageView1Progress(percentage); };
}

TMDIChild::~TMDIChild() {
  // The view outlives the components (it is a child widget, freed after the members), so nothing
  // it raises while it goes may reach this half-destroyed window.
  ImageView1->OnImageChange = nullptr;
  ImageProc1.OnProgress = nullptr;
  ImageIO1.OnProgress = nullptr;
  ImageProc1.SetAttachedView(nullptr);
  ImageIO1.SetAttachedView(nullptr);
}

void TMDIChild::SetCaption(const QString& caption) {
  caption_ = caption;
  // "[*]" is the title's modified mark; a literal one in a file name is written twice.
  QString title = caption;
  title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
  setWindowTitle(title + QStringLiteral("[*]"));
}

QString TMDIChild::StatusText() const {
  return statusLabel_->text();
}

QString TMDIChild::FitText() const {
  return fitLabel_->text();
}

void TMDIChild::FormShow() {
  SetPaneBytes({});
  RefreshStatusLine();
  RefreshFitText();
}

bool TMDIChild::FormCloseQuery() {
  if (!Modified) return true;
  switch (Prompter().AskYesNoCancel(this, tr("Save Changes to ") + caption_ + QStringLiteral("?"))) {
    case TAnswer::Yes:
      // Without a main window to save through, keeping the window open is the only safe answer.
      return host_ != nullptr && host_->SaveDocument(*this);
    case TAnswer::No: return true;
    case TAnswer::Cancel: break;
  }
  return false;
}

QByteArray TMDIChild::PaneBytes() const {
  return Hiddenmemo->Bytes();
}

void TMDIChild::SetPaneBytes(const QByteArray& bytes) {
  settingPane_ = true;
  Hiddenmemo->SetBytes(bytes);
  settingPane_ = false;
  exactBytes_.reset();
}

void TMDIChild::SetPaneBytesExact(const QByteArray& bytes) {
  SetPaneBytes(bytes);
  exactBytes_ = bytes;
  RefreshFitText();
}

QByteArray TMDIChild::MessageBytes() const {
  return exactBytes_ ? *exactBytes_ : PaneBytes();
}

void TMDIChild::ToolButton2Click() {
  SetPaneBytes({});
  try {
    std::string text;
    ImageProc1.ReadHiddenText(text);
    if (veilora::IsEnvelope(text)) {
      OpenProtectedText(text);
    } else {
      SetPaneBytesExact(ToQByteArray(text));
    }
  } catch (const std::exception&) {
    SetPaneBytes({});
    Prompter().ShowMessage(this, tr("No Data in this Image"));
  }
  // Read text is taken to be encrypted, also after a failure.
  SetCipherState(true);
  RefreshStatusLine();
}

void TMDIChild::ToolButton3Click() {
  const QByteArray message = MessageBytes();
  if (!message.isEmpty()) {
    // A longer text would be cut at the last carrier byte and read back damaged; the user keeps it
    // in the pane instead and learns how much fits.
    const std::int32_t fit = ImageProc1.HiddenTextFit();
    if (message.size() > fit) {
      Prompter().ShowError(this, tr("The text is too long for this image: %1 bytes fit.").arg(fit));
      return;
    }
    try {
      ImageProc1.WriteHiddenText(View(message));
    } catch (const std::exception& error) {
      Prompter().ShowError(this, QString::fromLocal8Bit(error.what()));
      return;
    }
    RefreshStatusLine();
  }
  SetPaneBytes({});
}

void TMDIChild::OpenProtectedText(const std::string& envelope) {
  std::string message;
  veilora::TEnvelopeInfo info;
  // A damaged or unknown envelope is reported without asking for a passphrase that cannot help.
  veilora::TEnvelopeStatus status = veilora::ReadEnvelopeInfo(envelope, info);
  if (status == veilora::TEnvelopeStatus::Ok) {
    const std::optional<QString> passphrase =
        Prompter().AskPassword(this, tr("The hidden text is protected. Passphrase:"));
    if (!passphrase) return;
    const TWaitCursor wait;
    status = veilora::OpenEnvelope(envelope, PassphraseBytes(*passphrase), message);
  }
  switch (status) {
    case veilora::TEnvelopeStatus::Ok: SetPaneBytesExact(ToQByteArray(message)); return;
    case veilora::TEnvelopeStatus::WrongPassphrase:
      Prompter().ShowError(this, tr("Wrong passphrase, or the protected text was changed."));
      return;
    case veilora::TEnvelopeStatus::NewerVersion:
      Prompter().ShowError(this, tr("The protected text was made by a newer version of Veilora."));
      return;
    case veilora::TEnvelopeStatus::OutOfMemory:
      Prompter().ShowError(this, tr("Not enough memory to check the passphrase."));
      return;
    case veilora::TEnvelopeStatus::Damaged:
    case veilora::TEnvelopeStatus::TooCostly: break;
  }
  Prompter().ShowError(this, tr("The protected text in this image is damaged."));
}

void TMDIChild::ToolButton4Click() {
  SetPaneBytes({});
  try {
    ImageProc1.WriteHiddenText({});
  } catch (const std::exception& error) {
    Prompter().ShowError(this, QString::fromLocal8Bit(error.what()));
  }
}

void TMDIChild::ToolButton7Click() {
  SetCipherState(true);
  SetPaneBytesExact(ToQByteArray(veilora::EncryptText(
      View(MessageBytes()), veilora::kTextStartKey, veilora::kTextMultiplierKey, veilora::kTextAdditiveKey)));
}

void TMDIChild::ToolButton8Click() {
  SetCipherState(false);
  SetPaneBytesExact(ToQByteArray(veilora::DecryptText(
      View(MessageBytes()), veilora::kTextStartKey, veilora::kTextMultiplierKey, veilora::kTextAdditiveKey)));
}

void TMDIChild::ToolButton9Click() {
  const QByteArray message = MessageBytes();
  if (message.isEmpty()) return;
  const std::int64_t fit = std::max<std::int64_t>(
      ImageProc1.HiddenTextFit() - static_cast<std::int64_t>(veilora::kEnvelopeOverhead), 0);
  if (message.size() > fit) {
    Prompter().ShowError(this,
                         tr("The text is too long for this image: %1 bytes fit with a passphrase.").arg(fit));
    return;
  }
  const std::optional<QString> passphrase =
      Prompter().AskPassword(this, tr("Passphrase for the hidden text:"));
  if (!passphrase) return;
  if (passphrase->isEmpty()) {
    Prompter().ShowError(this, tr("The passphrase is empty; nothing was written."));
    return;
  }
  const std::optional<QString> repeated = Prompter().AskPassword(this, tr("The same passphrase again:"));
  if (!repeated) return;
  if (*repeated != *passphrase) {
    Prompter().ShowError(this, tr("The two passphrases differ; nothing was written."));
    return;
  }
  try {
    std::string envelope;
    {
      const TWaitCursor wait;
      envelope = veilora::SealEnvelope(View(message), PassphraseBytes(*passphrase));
    }
    ImageProc1.WriteHiddenText(envelope);
  } catch (const std::exception& error) {
    Prompter().ShowError(this, QString::fromLocal8Bit(error.what()));
    return;
  }
  RefreshStatusLine();
  SetPaneBytes({});
}

void TMDIChild::LoadFile1Click() {
  const std::optional<QString> fileName = Prompter().OpenTextFile(this);
  if (!fileName) return;
  QFile file(*fileName);
  if (!file.open(QIODevice::ReadOnly)) {
    Prompter().ShowError(this, tr("Cannot open file \"%1\". %2").arg(*fileName, file.errorString()));
    return;
  }
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    Prompter().ShowError(this, tr("Cannot read file \"%1\". %2").arg(*fileName, file.errorString()));
    return;
  }
  SetPaneBytes(bytes);
}

void TMDIChild::Saveas1Click() {
  const std::optional<QString> fileName = Prompter().SaveTextFile(this);
  if (!fileName) return;
  // Written beside the old file and put in its place only when complete, so a failure leaves an
  // existing file as it was.
  QSaveFile file(*fileName);
  const QByteArray bytes = MessageBytes();
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    Prompter().ShowError(this, tr("Cannot create file \"%1\". %2").arg(*fileName, file.errorString()));
  }
}

void TMDIChild::ImageView1ImageChange() {
  Modified = true;
  // A new size changes what fits; the capacity part of the line keeps its own refresh points.
  RefreshFitText();
  if (host_ != nullptr) host_->SetUndoEnabled(ImageProc1.CanUndo());
}

void TMDIChild::ImageView1Progress(int percentage) {
  if (host_ != nullptr) host_->SetProgress(percentage);
}

void TMDIChild::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Only the first showing: restoring a minimised window must not empty the pane.
  if (!event->spontaneous() && !shownOnce_) {
    shownOnce_ = true;
    FormShow();
  }
}

void TMDIChild::closeEvent(QCloseEvent* event) {
  if (FormCloseQuery()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TMDIChild::RefreshStatusLine() {
  statusLabel_->setText(tr("Hidden text space in bytes: ") + QString::number(ImageProc1.HiddenTextSpace()));
}

void TMDIChild::RefreshFitText() {
  // The view reports changes while the window is still being built.
  if (fitLabel_ == nullptr) return;
  const qsizetype needed = MessageBytes().size();
  const std::int32_t fit = ImageProc1.HiddenTextFit();
  fitLabel_->setText(tr("Message: %1 of %2 bytes that fit").arg(needed).arg(fit));
  // A message that would be refused shows so before Write is pressed.
  fitLabel_->setStyleSheet(needed > fit ? QStringLiteral("color: #b00000;") : QString());
}

void TMDIChild::SetCipherState(bool encrypted) {
  ToolButton7->setEnabled(!encrypted);
  ToolButton8->setEnabled(encrypted);
}
