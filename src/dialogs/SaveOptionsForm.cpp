#include "dialogs/SaveOptionsForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "dialogs/PaletteDialog.h"
#include "image/Bitmap.h"
#include "io/ImageIO.h"
#include "view/ImageView.h"

using veilora::TRGB;

struct TSaveOptionsForm::Page {
  int bit = 0;
  QWidget* widget = nullptr;
  QLabel* originalSize = nullptr;
  QLabel* compressedSize = nullptr;
  QLabel* hiddenText = nullptr;
};

namespace {

constexpr const char* kNoValue = "---";

QString ColourStyle(TRGB colour) {
  return QStringLiteral("QToolButton { background: rgb(%1,%2,%3); border: 1px solid #808080; }")
      .arg(colour.r)
      .arg(colour.g)
      .arg(colour.b);
}

TRGB SwatchColour(const QToolButton* swatch) {
  const QColor colour = swatch->property("swatchColour").value<QColor>();
  return TRGB{static_cast<std::uint8_t>(colour.blue()), static_cast<std::uint8_t>(colour.green()),
              static_cast<std::uint8_t>(colour.red())};
}

void SetSwatchColour(QToolButton* swatch, TRGB colour) {
  swatch->setProperty("swatchColour", QColor(colour.r, colour.g, colour.b));
  swatch->setStyleSheet(ColourStyle(colour));
}

std::int32_t Number(const QLineEdit* edit) {
  return veilora::WholeNumber(edit->text().toStdString(), 0);
}

QString SizeText(std::int64_t bytes) {
  return QString::number(bytes) + QStringLiteral(" bytes");
}

QString FateText(veilora::THiddenTextFate fate) {
  switch (fate) {
    case veilora::THiddenTextFate::Kept: return QObject::tr("Hidden text: kept with these options");
    case veilora::THiddenTextFate::Lost: return QObject::tr("Hidden text: lost with these options");
    default: return QObject::tr("Hidden text: none in this image");
  }
}

// The order of the tabs.
constexpr std::array<int, 7> kPageOrder = {veilora::spJPEG, veilora::spTIFF, veilora::spGIF, veilora::spBMP,
                                           veilora::spPCX,  veilora::spPNG,  veilora::spTGA};

}  // namespace

TSaveOptionsForm::TSaveOptionsForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SaveOptionsForm"));
  setWindowTitle(QStringLiteral("Paramters preview"));

  pageControl_ = new QTabWidget(this);
  pageControl_->setObjectName(QStringLiteral("PageControl1"));
  pageControl_->setTabPosition(QTabWidget::South);
  BuildPages();

  auto* viewPanel = new QWidget(this);
  viewPanel->setObjectName(QStringLiteral("Panel2"));
  auto* viewLayout = new QGridLayout(viewPanel);
  viewLayout->addWidget(new QLabel(tr("Source:"), viewPanel), 0, 0);
  viewLayout->addWidget(new QLabel(tr("Result:"), viewPanel), 0, 1);
  sourceView_ = new veilora::TImageView(viewPanel);
  sourceView_->setObjectName(QStringLiteral("SourceView"));
  resultView_ = new veilora::TImageView(viewPanel);
  resultView_->setObjectName(QStringLiteral("ResultView"));
  for (veilora::TImageView* view : {sourceView_, resultView_}) {
    view->setMinimumSize(200, 200);
    view->SetBackground(veilora::clWhite);
    view->SetBackgroundStyle(veilora::bgsChessboard);
    view->SetCenter(true);
    view->SetDoubleBuffer(true);
    view->SetScrollBars(veilora::ssBoth);
  }
  viewLayout->addWidget(sourceView_, 1, 0);
  viewLayout->addWidget(resultView_, 1, 1);
  progressBar1_ = new QProgressBar(viewPanel);
  progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  progressBar1_->setRange(0, 100);
  progressBar1_->setValue(0);
  viewLayout->addWidget(progressBar1_, 2, 0, 1, 2);

  button1_ = new QPushButton(tr("OK"), this);
  button1_->setObjectName(QStringLiteral("Button1"));
  button1_->setDefault(true);
  button2_ = new QPushButton(tr("Cancel"), this);
  button2_->setObjectName(QStringLiteral("Button2"));
  button3_ = new QPushButton(tr("&Preview"), this);
  button3_->setObjectName(QStringLiteral("Button3"));
  speedButton1_ = new QToolButton(this);
  speedButton1_->setObjectName(QStringLiteral("SpeedButton1"));
  speedButton1_->setCheckable(true);
  speedButton1_->setToolTip(tr("Lock preview"));
  speedButton1_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(speedButton1_);
  buttons->addWidget(button3_);
  buttons->addStretch(1);
  buttons->addWidget(button1_);
  buttons->addWidget(button2_);

  auto* top = new QHBoxLayout;
  top->addWidget(pageControl_, 0);
  top->addWidget(viewPanel, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(buttons);

  connect(button1_, &QPushButton::clicked, this, &TSaveOptionsForm::Accept);
  connect(button2_, &QPushButton::clicked, this, &QDialog::reject);
  connect(button3_, &QPushButton::clicked, this, &TSaveOptionsForm::RenderPreview);
  connect(speedButton1_, &QToolButton::toggled, this, &TSaveOptionsForm::LockToggled);
  connect(pageControl_, &QTabWidget::currentChanged, this, &TSaveOptionsForm::PageChanged);
  connect(sourceView_, &veilora::TImageView::viewChanged, this, &TSaveOptionsForm::SyncResultView);
}

TSaveOptionsForm::~TSaveOptionsForm() = default;

// ---- building the pages

QComboBox* TSaveOptionsForm::AddCombo(QWidget* widget, const char* name, const QStringList& items) {
  auto* combo = new QComboBox(widget);
  combo->setObjectName(QString::fromLatin1(name));
  combo->addItems(items);
  connect(combo, &QComboBox::currentIndexChanged, this, &TSaveOptionsForm::ControlChanged);
  return combo;
}

QLineEdit* TSaveOptionsForm::AddEdit(QWidget* widget, const char* name) {
  auto* edit = new QLineEdit(widget);
  edit->setObjectName(QString::fromLatin1(name));
  connect(edit, &QLineEdit::textChanged, this, &TSaveOptionsForm::ControlChanged);
  return edit;
}

QSpinBox* TSaveOptionsForm::AddSpin(QWidget* widget, const char* name, int maximum) {
  auto* spin = new QSpinBox(widget);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(0, maximum);
  connect(spin, &QSpinBox::valueChanged, this, &TSaveOptionsForm::ControlChanged);
  return spin;
}

QCheckBox* TSaveOptionsForm::AddCheck(QWidget* widget, const char* name, const QString& text) {
  auto* check = new QCheckBox(text, widget);
  check->setObjectName(QString::fromLatin1(name));
  connect(check, &QCheckBox::toggled, this, &TSaveOptionsForm::ControlChanged);
  return check;
}

QToolButton* TSaveOptionsForm::AddSwatch(QWidget* widget, const char* name) {
  auto* swatch = new QToolButton(widget);
  swatch->setObjectName(QString::fromLatin1(name));
  swatch->setFixedSize(40, 20);
  SetSwatchColour(swatch, TRGB{});
  connect(swatch, &QToolButton::clicked, this, [this, swatch] { SwatchClicked(swatch); });
  return swatch;
}

void TSaveOptionsForm::AddSizeLabels(int page, QWidget* widget, QGridLayout* grid, int row) {
  Page& entry = PageFor(page);
  entry.widget = widget;
  grid->addWidget(new QLabel(tr("Original size:"), widget), row, 0);
  entry.originalSize = new QLabel(QString::fromLatin1(kNoValue), widget);
  entry.originalSize->setObjectName(QStringLiteral("OriginalSize"));
  grid->addWidget(entry.originalSize, row, 1);
  grid->addWidget(new QLabel(tr("Compressed size:"), widget), row + 1, 0);
  entry.compressedSize = new QLabel(QString::fromLatin1(kNoValue), widget);
  entry.compressedSize->setObjectName(QStringLiteral("CompressedSize"));
  entry.compressedSize->setWordWrap(true);
  grid->addWidget(entry.compressedSize, row + 1, 1);
  entry.hiddenText = new QLabel(QString::fromLatin1(kNoValue), widget);
  entry.hiddenText->setObjectName(QStringLiteral("HiddenTextFate"));
  entry.hiddenText->setWordWrap(true);
  grid->addWidget(entry.hiddenText, row + 2, 0, 1, 2);
  grid->setRowStretch(row + 3, 1);
}

namespace {

QLabel* Caption(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, buddy->parentWidget());
  label->setBuddy(buddy);
  return label;
}

// One row of a page: the caption in the first column, the control it names in the second.
void AddRow(QGridLayout* grid, int row, const QString& caption, QWidget* control) {
  grid->addWidget(Caption(caption, control), row, 0);
  grid->addWidget(control, row, 1);
}

}  // namespace

QWidget* TSaveOptionsForm::BuildJpegPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("JPEGPage"));
  auto* grid = new QGridLayout(page);
  edit22_ = AddEdit(page, "Edit22");
  trackBar13_ = new QSlider(Qt::Horizontal, page);
  trackBar13_->setObjectName(QStringLiteral("TrackBar13"));
  trackBar13_->setRange(0, 100);
  connect(trackBar13_, &QSlider::valueChanged, this, &TSaveOptionsForm::QualityTrackChanged);
  comboBox13_ = AddCombo(page, "ComboBox13", {"RGB", "GrayScale", "YCbCr", "CMYK", "YCbCrK"});
  comboBox1_ = AddCombo(page, "ComboBox1", {"ISLOW", "IFAST", "FLOAT"});
  checkBox2_ = AddCheck(page, "CheckBox2", tr("&Optimal Huffman"));
  edit23_ = AddSpin(page, "Edit23", 100);
  checkBox3_ = AddCheck(page, "CheckBox3", tr("P&rogressive"));
  AddRow(grid, 0, tr("&Quality:"), edit22_);
  grid->addWidget(trackBar13_, 1, 0, 1, 2);
  AddRow(grid, 2, tr("P&hotometric:"), comboBox13_);
  AddRow(grid, 3, tr("&DCT method:"), comboBox1_);
  grid->addWidget(checkBox2_, 4, 0, 1, 2);
  AddRow(grid, 5, tr("&Smoothing factor:"), edit23_);
  grid->addWidget(checkBox3_, 6, 0, 1, 2);
  AddSizeLabels(veilora::spJPEG, page, grid, 7);
  return page;
}

QWidget* TSaveOptionsForm::BuildTiffPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TIFFPage"));
  auto* grid = new QGridLayout(page);
  comboBox2_ = AddCombo(
      page, "ComboBox2",
      {"UNCOMPRESSED", "CCITT1D", "G3FAX1D", "G3FAX2D", "G4FAX", "LZW", "OLDJPEG", "JPEG", "PACKBITS"});
  edit1_ = AddSpin(page, "Edit1", 1000);
  comboBox3_ =
      AddCombo(page, "ComboBox3",
               {"WHITEISZERO", "BLACKISZERO", "RGB", "RGBPALETTE", "TRANSPMASK", "CMYK", "YCBCR", "CIELAB"});
  connect(comboBox3_, &QComboBox::currentIndexChanged, this, &TSaveOptionsForm::TiffPhotometricChanged);
  comboBox4_ = AddCombo(page, "ComboBox4", {"B/W", "16", "256", "65536", "16M"});
  AddRow(grid, 0, tr("&Compression:"), comboBox2_);
  AddRow(grid, 1, tr("&Image index:"), edit1_);
  AddRow(grid, 2, tr("P&hotometric:"), comboBox3_);
  AddRow(grid, 3, tr("C&olors:"), comboBox4_);

  auto* group = new QGroupBox(tr(" Scanned document info "), page);
  auto* groupGrid = new QGridLayout(group);
  const std::array<const char*, 7> names = {"Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit8"};
  const std::array<QString, 7> captions = {tr("H&oriz. Position (inch):"),
                                           tr("&Vert. Position (inch):"),
                                           tr("&Name:"),
                                           tr("&Description:"),
                                           tr("P&age name:"),
                                           tr("Page N&umber:"),
                                           tr("o&f")};
  for (std::size_t i = 0; i < names.size(); ++i) {
    tiffEdits_[i] = AddEdit(group, names[i]);
    groupGrid->addWidget(Caption(captions[i], tiffEdits_[i]), static_cast<int>(i), 0);
    groupGrid->addWidget(tiffEdits_[i], static_cast<int>(i), 1);
  }
  grid->addWidget(group, 4, 0, 1, 2);
  AddSizeLabels(veilora::spTIFF, page, grid, 5);
  return page;
}

QWidget* TSaveOptionsForm::BuildGifPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("GIFPage"));
  auto* grid = new QGridLayout(page);
  edit9_ = AddSpin(page, "Edit9", 1000);
  comboBox5_ = AddCombo(page, "ComboBox5", {"B/W", "4", "8", "16", "32", "64", "128", "256"});
  checkBox4_ = AddCheck(page, "CheckBox4", tr("&Transparent:"));
  panel3_ = AddSwatch(page, "Panel3");
  checkBox5_ = AddCheck(page, "CheckBox5", tr("I&nterlaced:"));
  edit10_ = AddEdit(page, "Edit10");
  edit11_ = AddEdit(page, "Edit11");
  edit12_ = AddEdit(page, "Edit12");
  panel4_ = AddSwatch(page, "Panel4");
  AddRow(grid, 0, tr("&Image index:"), edit9_);
  AddRow(grid, 1, tr("&Colors:"), comboBox5_);
  grid->addWidget(checkBox4_, 2, 0, 1, 2);
  AddRow(grid, 3, tr("T&ransparent color:"), panel3_);
  grid->addWidget(checkBox5_, 4, 0, 1, 2);
  AddRow(grid, 5, tr("&X position:"), edit10_);
  AddRow(grid, 6, tr("&Y position:"), edit11_);
  AddRow(grid, 7, tr("D&elay time (1/100 s):"), edit12_);
  AddRow(grid, 8, tr("&Background:"), panel4_);
  AddSizeLabels(veilora::spGIF, page, grid, 9);
  return page;
}

QWidget* TSaveOptionsForm::BuildBmpPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("BMPPage"));
  auto* grid = new QGridLayout(page);
  comboBox6_ = AddCombo(page, "ComboBox6", {"UNCOMPRESSED", "RLE"});
  comboBox7_ = AddCombo(page, "ComboBox7", {"B/W", "16", "256", "65536", "16M", "16M (32bit)"});
  AddRow(grid, 0, tr("&Compression:"), comboBox6_);
  AddRow(grid, 1, tr("C&olors:"), comboBox7_);
  AddSizeLabels(veilora::spBMP, page, grid, 2);
  return page;
}

QWidget* TSaveOptionsForm::BuildPcxPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("PCXPage"));
  auto* grid = new QGridLayout(page);
  comboBox8_ = AddCombo(page, "ComboBox8", {"UNCOMPRESSED", "RLE"});
  comboBox9_ = AddCombo(page, "ComboBox9", {"B/W", "16", "256", "16M"});
  AddRow(grid, 0, tr("&Compression:"), comboBox8_);
  AddRow(grid, 1, tr("C&olors:"), comboBox9_);
  AddSizeLabels(veilora::spPCX, page, grid, 2);
  return page;
}

QWidget* TSaveOptionsForm::BuildPngPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("PNGPage"));
  auto* grid = new QGridLayout(page);
  comboBox10_ = AddCombo(page, "ComboBox10", {"B/W", "256", "16M"});
  checkBox6_ = AddCheck(page, "CheckBox6", tr("I&nterlaced:"));
  panel1_ = AddSwatch(page, "Panel1");
  comboBox11_ = AddCombo(page, "ComboBox11", {"NONE", "SUB", "PAETH"});
  comboBox12_ = AddCombo(page, "ComboBox12", {"NONE", "1", "2", "3", "4", "5", "6", "7", "8", "MAX"});
  AddRow(grid, 0, tr("C&olors:"), comboBox10_);
  grid->addWidget(checkBox6_, 1, 0, 1, 2);
  AddRow(grid, 2, tr("&Background:"), panel1_);
  AddRow(grid, 3, tr("&Filter:"), comboBox11_);
  AddRow(grid, 4, tr("Co&mpression:"), comboBox12_);
  AddSizeLabels(veilora::spPNG, page, grid, 5);
  return page;
}

QWidget* TSaveOptionsForm::BuildTgaPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TGAPage"));
  auto* grid = new QGridLayout(page);
  comboBox14_ = AddCombo(page, "ComboBox14", {"B/W", "256", "16M"});
  panel5_ = AddSwatch(page, "Panel5");
  checkBox1_ = AddCheck(page, "CheckBox1", tr("Compression:"));
  edit13_ = AddEdit(page, "Edit13");
  edit14_ = AddEdit(page, "Edit14");
  AddRow(grid, 0, tr("C&olors:"), comboBox14_);
  AddRow(grid, 1, tr("&Background:"), panel5_);
  grid->addWidget(checkBox1_, 2, 0, 1, 2);
  AddRow(grid, 3, tr("&Name:"), edit13_);
  AddRow(grid, 4, tr("&Description:"), edit14_);
  AddSizeLabels(veilora::spTGA, page, grid, 5);
  return page;
}

void TSaveOptionsForm::BuildPages() {
  pageControl_->addTab(BuildJpegPage(), QStringLiteral("JPEG"));
  pageControl_->addTab(BuildTiffPage(), QStringLiteral("TIFF"));
  pageControl_->addTab(BuildGifPage(), QStringLiteral("GIF"));
  pageControl_->addTab(BuildBmpPage(), QStringLiteral("BMP"));
  pageControl_->addTab(BuildPcxPage(), QStringLiteral("PCX"));
  pageControl_->addTab(BuildPngPage(), QStringLiteral("PNG"));
  pageControl_->addTab(BuildTgaPage(), QStringLiteral("TGA"));
}

TSaveOptionsForm::Page& TSaveOptionsForm::PageFor(int page) {
  for (const auto& entry : pageList_)
    if (entry->bit == page) return *entry;
  pageList_.push_back(std::make_unique<Page>());
  pageList_.back()->bit = page;
  return *pageList_.back();
}

const TSaveOptionsForm::Page* TSaveOptionsForm::FindPage(int page) const {
  for (const auto& entry : pageList_)
    if (entry->bit == page) return entry.get();
  return nullptr;
}

QString TSaveOptionsForm::OriginalSizeText(int page) const {
  const Page* entry = FindPage(page);
  return entry != nullptr ? entry->originalSize->text() : QString();
}

QString TSaveOptionsForm::CompressedSizeText(int page) const {
  const Page* entry = FindPage(page);
  return entry != nullptr ? entry->compressedSize->text() : QString();
}

QString TSaveOptionsForm::HiddenTextText(int page) const {
  const Page* entry = FindPage(page);
  return entry != nullptr ? entry->hiddenText->text() : QString();
}

// ---- showing

void TSaveOptionsForm::SetUp(veilora::TIOParams& params, const veilora::TBitmap& image, int pages,
                             bool lockPreview) {
  callerParams_ = &params;
  pages_ = pages & veilora::kEveryPage;
  lockPreview_ = lockPreview;
  sourceView_->Assign(&image);
  const QString original = SizeText(veilora::UncompressedImageBytes(image));
  for (const auto& entry : pageList_) entry->originalSize->setText(original);
}

void TSaveOptionsForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Activate();
}

int TSaveOptionsForm::ShowingPage() const {
  const int index = pageControl_->currentIndex();
  if (index < 0 || index >= static_cast<int>(kPageOrder.size()) || !pageControl_->isTabVisible(index))
    return 0;
  return kPageOrder[static_cast<std::size_t>(index)];
}

void TSaveOptionsForm::Activate() {
  if (callerParams_ == nullptr) return;
  filling_ = true;
  speedButton1_->setChecked(lockPreview_);
  button3_->setEnabled(!lockPreview_);
  int first = -1;
  for (std::size_t i = 0; i < kPageOrder.size(); ++i) {
    const bool shown = (pages_ & kPageOrder[i]) != 0;
    pageControl_->setTabVisible(static_cast<int>(i), shown);
    if (shown && first < 0) first = static_cast<int>(i);
  }
  if (first >= 0) pageControl_->setCurrentIndex(first);
  filling_ = false;
  FillPage();
  sourceView_->ZoomToFit();
  // The views take their final sizes once the window's layout has run.
  QApplication::processEvents();
  sourceView_->ZoomToFit();
  RenderPreview();
}

void TSaveOptionsForm::PageChanged() {
  if (filling_ || callerParams_ == nullptr || !isVisible()) return;
  FillPage();
  RenderPreview();
}

void TSaveOptionsForm::FillPage() {
  if (callerParams_ == nullptr) return;
  working_.Assign(*callerParams_);
  const veilora::TIOParams& w = working_;
  filling_ = true;
  switch (ShowingPage()) {
    case veilora::spJPEG:
      edit22_->setText(QString::number(w.JpegQuality));
      trackBar13_->setValue(w.JpegQuality);
      comboBox13_->setCurrentIndex(w.JpegColorSpace);
      comboBox1_->setCurrentIndex(w.JpegDctMethod);
      checkBox2_->setChecked(w.JpegOptimalHuffman);
      edit23_->setValue(w.JpegSmoothing);
      checkBox3_->setChecked(w.JpegProgressive);
      break;
    case veilora::spTIFF: {
      comboBox2_->setCurrentIndex(w.TiffCompression);
      edit1_->setValue(w.TiffImageIndex);
      comboBox3_->setCurrentIndex(w.TiffPhotometric);
      comboBox4_->setCurrentIndex(
          veilora::ColourItemFromDepth(veilora::spTIFF, w.SamplesPerPixel, w.BitsPerSample));
      const std::array<QString, 7> texts = {QString::number(w.TiffXPos),
                                            QString::number(w.TiffYPos),
                                            QString::fromStdString(w.TiffDocumentName),
                                            QString::fromStdString(w.TiffImageDescription),
                                            QString::fromStdString(w.TiffPageName),
                                            QString::number(w.TiffPageNumber),
                                            QString::number(w.TiffPageCount)};
      for (std::size_t i = 0; i < texts.size(); ++i) tiffEdits_[i]->setText(texts[i]);
      const veilora::TTiffColourBox box =
          veilora::ApplyTiffPhotometricRule(comboBox3_->currentIndex(), comboBox4_->currentIndex());
      comboBox4_->setCurrentIndex(box.colourItem);
      comboBox4_->setEnabled(box.enabled);
      break;
    }
    case veilora::spGIF:
      edit9_->setValue(w.GifImageIndex);
      comboBox5_->setCurrentIndex(veilora::ColourItemFromDepth(veilora::spGIF, 1, w.BitsPerSample));
      checkBox4_->setChecked(w.GifHasTransparent);
      SetSwatchColour(panel3_, w.GifTransparentColor);
      checkBox5_->setChecked(w.GifInterlaced);
      edit10_->setText(QString::number(w.GifXPos));
      edit11_->setText(QString::number(w.GifYPos));
      edit12_->setText(QString::number(w.GifDelayTime));
      SetSwatchColour(panel4_, w.GifBackground);
      break;
    case veilora::spBMP:
      comboBox6_->setCurrentIndex(w.BmpCompression);
      comboBox7_->setCurrentIndex(
          veilora::ColourItemFromDepth(veilora::spBMP, w.SamplesPerPixel, w.BitsPerSample));
      break;
    case veilora::spPCX:
      comboBox8_->setCurrentIndex(w.PcxCompression);
      comboBox9_->setCurrentIndex(
          veilora::ColourItemFromDepth(veilora::spPCX, w.SamplesPerPixel, w.BitsPerSample));
      break;
    case veilora::spPNG:
      comboBox10_->setCurrentIndex(
          veilora::ColourItemFromDepth(veilora::spPNG, w.SamplesPerPixel, w.BitsPerSample));
      checkBox6_->setChecked(w.PngInterlaced);
      SetSwatchColour(panel1_, w.PngBackground);
      comboBox11_->setCurrentIndex(w.PngFilter);
      comboBox12_->setCurrentIndex(w.PngCompression);
      break;
    case veilora::spTGA:
      comboBox14_->setCurrentIndex(
          veilora::ColourItemFromDepth(veilora::spTGA, w.SamplesPerPixel, w.BitsPerSample));
      SetSwatchColour(panel5_, w.TgaBackground);
      checkBox1_->setChecked(w.TgaCompressed);
      edit13_->setText(QString::fromStdString(w.TgaName));
      edit14_->setText(QString::fromStdString(w.TgaDescription));
      break;
    default: break;
  }
  filling_ = false;
  // The controls now show the record; what they show is the working copy (a value no item
  // stands for becomes the item shown).
  ReadPage();
}

// ---- control changes

void TSaveOptionsForm::ReadPage() {
  veilora::TIOParams& w = working_;
  const auto setDepth = [&w](veilora::TColourDepth depth) {
    w.SamplesPerPixel = depth.samplesPerPixel;
    w.BitsPerSample = depth.bitsPerSample;
  };
  const auto byte = [](int index) { return static_cast<std::uint8_t>(index < 0 ? 0 : index); };
  switch (ShowingPage()) {
    case veilora::spJPEG:
      w.JpegQuality = veilora::WholeNumber(edit22_->text().toStdString(), 50);
      w.JpegColorSpace = byte(comboBox13_->currentIndex());
      w.JpegDctMethod = byte(comboBox1_->currentIndex());
      w.JpegOptimalHuffman = checkBox2_->isChecked();
      w.JpegSmoothing = edit23_->value();
      w.JpegProgressive = checkBox3_->isChecked();
      break;
    case veilora::spTIFF:
      w.TiffCompression = byte(comboBox2_->currentIndex());
      w.TiffImageIndex = edit1_->value();
      w.TiffPhotometric = byte(comboBox3_->currentIndex());
      setDepth(
          veilora::ColourItemDepth(veilora::spTIFF, comboBox4_->currentIndex(), comboBox3_->currentIndex()));
      w.TiffXPos = Number(tiffEdits_[0]);
      w.TiffYPos = Number(tiffEdits_[1]);
      w.TiffDocumentName = tiffEdits_[2]->text().toStdString();
      w.TiffImageDescription = tiffEdits_[3]->text().toStdString();
      w.TiffPageName = tiffEdits_[4]->text().toStdString();
      w.TiffPageNumber = Number(tiffEdits_[5]);
      w.TiffPageCount = Number(tiffEdits_[6]);
      break;
    case veilora::spGIF:
      w.GifImageIndex = edit9_->value();
      w.BitsPerSample = veilora::ColourItemDepth(veilora::spGIF, comboBox5_->currentIndex(), 0).bitsPerSample;
      w.GifHasTransparent = checkBox4_->isChecked();
      w.GifTransparentColor = SwatchColour(panel3_);
      w.GifInterlaced = checkBox5_->isChecked();
      w.GifXPos = Number(edit10_);
      w.GifYPos = Number(edit11_);
      w.GifDelayTime = Number(edit12_);
      w.GifBackground = SwatchColour(panel4_);
      break;
    case veilora::spBMP:
      w.BmpCompression = byte(comboBox6_->currentIndex());
      setDepth(veilora::ColourItemDepth(veilora::spBMP, comboBox7_->currentIndex(), 0));
      break;
    case veilora::spPCX:
      w.PcxCompression = byte(comboBox8_->currentIndex());
      setDepth(veilora::ColourItemDepth(veilora::spPCX, comboBox9_->currentIndex(), 0));
      break;
    case veilora::spPNG:
      setDepth(veilora::ColourItemDepth(veilora::spPNG, comboBox10_->currentIndex(), 0));
      w.PngInterlaced = checkBox6_->isChecked();
      w.PngBackground = SwatchColour(panel1_);
      w.PngFilter = byte(comboBox11_->currentIndex());
      w.PngCompression = comboBox12_->currentIndex();
      break;
    case veilora::spTGA:
      setDepth(veilora::ColourItemDepth(veilora::spTGA, comboBox14_->currentIndex(), 0));
      w.TgaBackground = SwatchColour(panel5_);
      w.TgaCompressed = checkBox1_->isChecked();
      w.TgaName = edit13_->text().toStdString();
      w.TgaDescription = edit14_->text().toStdString();
      break;
    default: break;
  }
}

void TSaveOptionsForm::ControlChanged() {
  if (filling_) return;
  ReadPage();
  if (sender() == edit22_) {
    // The track bar follows the typed quality without reporting a change of its own.
    filling_ = true;
    trackBar13_->setValue(working_.JpegQuality);
    filling_ = false;
  }
  if (speedButton1_->isChecked()) RenderPreview();
}

void TSaveOptionsForm::QualityTrackChanged(int value) {
  if (filling_) return;
  filling_ = true;
  edit22_->setText(QString::number(value));
  filling_ = false;
  ControlChanged();
}

void TSaveOptionsForm::TiffPhotometricChanged() {
  if (filling_) return;
  const veilora::TTiffColourBox box =
      veilora::ApplyTiffPhotometricRule(comboBox3_->currentIndex(), comboBox4_->currentIndex());
  filling_ = true;
  comboBox4_->setCurrentIndex(box.colourItem);
  comboBox4_->setEnabled(box.enabled);
  filling_ = false;
  ControlChanged();
}

void TSaveOptionsForm::LockToggled(bool down) {
  button3_->setEnabled(!down);
  if (filling_) return;
  if (down) RenderPreview();
}

void TSaveOptionsForm::SwatchClicked(QToolButton* swatch) {
  const int page = ShowingPage();
  const TRGB current = SwatchColour(swatch);
  std::optional<TRGB> chosen;
  // A palette format can only name a colour of its own table: the table of the preview, as many
  // entries as the chosen colours give.
  std::size_t entries = 0;
  if (page == veilora::spGIF) {
    entries = std::size_t{1} << working_.BitsPerSample;
  } else if (!previewPalette_.empty() && working_.SamplesPerPixel == 1) {
    entries = std::min<std::size_t>(previewPalette_.size(), std::size_t{1} << working_.BitsPerSample);
  }
  if (entries > 0) {
    std::vector<TRGB> colours(
        previewPalette_.begin(),
        previewPalette_.begin() + static_cast<std::ptrdiff_t>(std::min(entries, previewPalette_.size())));
    colours.resize(entries);
    TPaletteDialog dialog(colours, current, this);
    if (dialog.exec() == QDialog::Accepted) chosen = dialog.SelectedColour();
  } else {
    const QColor colour = QColorDialog::getColor(QColor(current.r, current.g, current.b), this, QString(),
                                                 QColorDialog::DontUseNativeDialog);
    if (colour.isValid())
      chosen = TRGB{static_cast<std::uint8_t>(colour.blue()), static_cast<std::uint8_t>(colour.green()),
                    static_cast<std::uint8_t>(colour.red())};
  }
  if (!chosen) return;
  SetSwatchColour(swatch, *chosen);
  ControlChanged();
}

// ---- the preview

void TSaveOptionsForm::RenderPreview() {
  const int page = ShowingPage();
  Page* entry = page != 0 ? &PageFor(page) : nullptr;
  veilora::TBitmap* source = sourceView_->Bitmap();
  if (entry == nullptr || source == nullptr) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  veilora::TBitmap result;
  const veilora::TSaveTrial trial = veilora::RunSaveTrial(
      *source, page, working_, result, [this](veilora::TObject&, int per) { progressBar1_->setValue(per); });
  QApplication::restoreOverrideCursor();
  if (trial.ok) {
    entry->compressedSize->setText(SizeText(trial.bytes));
    entry->hiddenText->setText(FateText(trial.hiddenText));
    previewPalette_ = trial.palette;
    resultView_->Assign(&result);
  } else {
    entry->compressedSize->setText(tr("--- (cannot save so: %1)").arg(QString::fromStdString(trial.failure)));
    entry->hiddenText->setText(QString::fromLatin1(kNoValue));
    previewPalette_.clear();
    veilora::TBitmap empty;
    resultView_->Assign(&empty);
  }
  progressBar1_->setValue(0);
  SyncResultView();
  resultView_->viewport()->update();
}

void TSaveOptionsForm::SyncResultView() {
  resultView_->SetZoom(sourceView_->Zoom());
  resultView_->SetViewOrigin(sourceView_->ViewOriginX(), sourceView_->ViewOriginY());
}

void TSaveOptionsForm::Accept() {
  if (callerParams_ != nullptr) {
    ReadPage();
    veilora::CopySavePageFields(ShowingPage(), working_, *callerParams_);
  }
  accept();
}

// ---- the window the core reaches

namespace {

class TSaveOptionsFormDialog final : public veilora::TSaveOptionsDialog {
 public:
  bool Execute(veilora::TImageIO& io, int pages, bool lockPreview) override {
    QWidget* parent = QApplication::activeModalWidget();
    if (parent == nullptr) parent = QApplication::activeWindow();
    TSaveOptionsForm form(parent);
    form.SetUp(io.Params, *io.Bitmap(), pages, lockPreview);
    return form.exec() == QDialog::Accepted;
  }
};

}  // namespace

veilora::TSaveOptionsDialog& SaveOptionsFormDialog() {
  static TSaveOptionsFormDialog dialog;
  return dialog;
}
