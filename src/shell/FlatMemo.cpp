#include "shell/FlatMemo.h"

#include <algorithm>

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QTextDocument>

#include "hidden/PaneText.h"

namespace {

QColor Lighter(const QColor& colour, int percent) {
  const auto channel = [percent](int value) { return value + (255 - value) * percent / 100; };
  return QColor(channel(colour.red()), channel(colour.green()), channel(colour.blue()));
}

QColor Darker(const QColor& colour, int percent) {
  const auto channel = [percent](int value) { return value - value * percent / 100; };
  return QColor(channel(colour.red()), channel(colour.green()), channel(colour.blue()));
}

}  // namespace

TFlatMemo::TFlatMemo(QWidget* parent) : QPlainTextEdit(parent) {
  // A plain box of the margin's width makes Qt keep the text and the scroll bar inside the margin;
  // its drawing is then painted over in the memo's own colours.
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(kMarginWidth);
  // The hover rule depends on which memo has the focus, so every focus change is a reason to look.
  connect(qApp, &QApplication::focusChanged, this, [this] { UpdateColours(); });
  FollowParentColour();
  UpdateColours();
}

void TFlatMemo::SetColorFocused(const QColor& colour) {
  colorFocused_ = colour;
  UpdateColours();
}

void TFlatMemo::SetColorBorder(const QColor& colour) {
  colorBorder_ = colour;
  update();
}

void TFlatMemo::SetColorFlat(const QColor& colour) {
  parentColor_ = false;
  colorFlat_ = colour;
  UpdateColours();
}

void TFlatMemo::SetParentColor(bool on) {
  parentColor_ = on;
  FollowParentColour();
}

void TFlatMemo::SetUseAdvColors(bool on) {
  useAdvColors_ = on;
  UpdateColours();
}

void TFlatMemo::SetAdvColorFocused(int percent) {
  advColorFocused_ = std::clamp(percent, 0, 100);
  UpdateColours();
}

void TFlatMemo::SetAdvColorBorder(int percent) {
  advColorBorder_ = std::clamp(percent, 0, 100);
  UpdateColours();
}

QColor TFlatMemo::EffectiveColorFocused() const {
  return useAdvColors_ ? Lighter(colorFlat_, advColorFocused_) : colorFocused_;
}

QColor TFlatMemo::EffectiveColorBorder() const {
  return useAdvColors_ ? Darker(colorFlat_, advColorBorder_) : colorBorder_;
}

bool TFlatMemo::Highlighted() const {
  if (hasFocus()) return true;
  if (!mouseOver_) return false;
  const auto* focused = qobject_cast<const TFlatMemo*>(QApplication::focusWidget());
  return focused == nullptr || focused == this;
}

QByteArray TFlatMemo::Bytes() const {
  // The raw text keeps what the plain text would change (no-break spaces, line separators); its
  // paragraph separators are the line breaks.
  const std::string bytes = veilora::PaneBytesFromText(document()->toRawText().toStdU16String());
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

void TFlatMemo::SetBytes(const QByteArray& bytes) {
  const std::u16string text =
      veilora::PaneTextFromBytes(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  setPlainText(QString::fromStdU16String(text));
}

bool TFlatMemo::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::Paint: {
      const bool handled = QPlainTextEdit::event(event);
      PaintMargin();
      return handled;
    }
    case QEvent::Enter:
      mouseOver_ = true;
      UpdateColours();
      break;
    case QEvent::Leave:
      mouseOver_ = false;
      UpdateColours();
      break;
    default: break;
  }
  return QPlainTextEdit::event(event);
}

void TFlatMemo::focusInEvent(QFocusEvent* event) {
  QPlainTextEdit::focusInEvent(event);
  UpdateColours();
}

void TFlatMemo::focusOutEvent(QFocusEvent* event) {
  QPlainTextEdit::focusOutEvent(event);
  UpdateColours();
}

void TFlatMemo::changeEvent(QEvent* event) {
  QPlainTextEdit::changeEvent(event);
  if (event->type() == QEvent::ParentChange || event->type() == QEvent::PaletteChange) FollowParentColour();
}

void TFlatMemo::FollowParentColour() {
  if (!parentColor_ || parentWidget() == nullptr) return;
  const QColor parentColour = parentWidget()->palette().color(parentWidget()->backgroundRole());
  if (parentColour == colorFlat_) return;
  colorFlat_ = parentColour;
  UpdateColours();
}

void TFlatMemo::UpdateColours() {
  const bool highlighted = Highlighted();
  const QColor background = highlighted ? EffectiveColorFocused() : colorFlat_;
  if (palette().color(QPalette::Base) != background) {
    QPalette colours = palette();
    colours.setColor(QPalette::Base, background);
    setPalette(colours);
  }
  update();
}

void TFlatMemo::PaintMargin() {
  QPainter painter(this);
  const QRect outer = rect().adjusted(0, 0, -1, -1);
  painter.setPen(EffectiveColorBorder());
  painter.drawRect(outer);
  painter.setPen(Highlighted() ? EffectiveColorFocused() : colorFlat_);
  painter.drawRect(outer.adjusted(1, 1, -1, -1));
  painter.drawRect(outer.adjusted(2, 2, -2, -2));
}
