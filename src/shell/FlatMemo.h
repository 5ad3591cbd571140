#pragma once

// A multi-line text control without the system's sunken border. It keeps a 3-pixel margin and
// paints it itself: an outer 1-pixel frame in ColorBorder and two inner 1-pixel frames in
// ColorFlat. While it has the focus, or while the mouse is over it and no other TFlatMemo holds the
// focus, the inner frames and the text background turn ColorFocused. It also holds the hidden-text
// pane's byte mapping: Bytes and SetBytes read and set its text as a byte string.

#include <QByteArray>
#include <QColor>
#include <QPlainTextEdit>

class TFlatMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TFlatMemo(QWidget* parent = nullptr);

  static constexpr int kMarginWidth = 3;

  QColor ColorFocused() const { return colorFocused_; }
  void SetColorFocused(const QColor& colour);
  QColor ColorBorder() const { return colorBorder_; }
  void SetColorBorder(const QColor& colour);
  // Setting the flat colour turns ParentColor off, as choosing a colour of one's own does.
  QColor ColorFlat() const { return colorFlat_; }
  void SetColorFlat(const QColor& colour);
  // On: the flat colour follows the parent's background colour.
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool on);
  // On: the focused and border colours are derived from the flat colour, lighter by
  // AdvColorFocused percent and darker by AdvColorBorder percent.
  bool UseAdvColors() const { return useAdvColors_; }
  void SetUseAdvColors(bool on);
  int AdvColorFocused() const { return advColorFocused_; }
  void SetAdvColorFocused(int percent);
  int AdvColorBorder() const { return advColorBorder_; }
  void SetAdvColorBorder(int percent);

  // The colours in force, after UseAdvColors.
  QColor EffectiveColorFocused() const;
  QColor EffectiveColorBorder() const;
  // True while the control shows its focused colours.
  bool Highlighted() const;

  // The text as the byte string it stands for: line breaks as CR LF, characters as UTF-8, escape
  // characters as their bytes.
  QByteArray Bytes() const;
  // Shows a byte string; a lone CR or LF becomes CR LF and the text ends at the first zero byte.
  void SetBytes(const QByteArray& bytes);

 protected:
  bool event(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void FollowParentColour();
  void UpdateColours();
  void PaintMargin();

  QColor colorFocused_{255, 255, 255};
  QColor colorBorder_{160, 150, 131};
  QColor colorFlat_{235, 234, 225};
  bool parentColor_ = true;
  bool useAdvColors_ = false;
  int advColorFocused_ = 10;
  int advColorBorder_ = 50;
  bool mouseOver_ = false;
};
