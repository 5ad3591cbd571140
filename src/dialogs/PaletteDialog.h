#pragma once

// A modal choice of one entry of a colour table: the entries as a grid of swatches, the chosen
// one pressed in, OK and "&Cancel". The save options use it for the colours a palette format can
// only name by an entry of its own table (the GIF transparent and background colours).

#include <QDialog>
#include <vector>

#include "image/Colour.h"

class QButtonGroup;
class QLabel;
class QToolButton;

class TPaletteDialog : public QDialog {
  Q_OBJECT

 public:
  // Starts with the first entry equal to `current` chosen, else the first entry. An empty table
  // shows one black entry.
  TPaletteDialog(const std::vector<veilora::TRGB>& colours, veilora::TRGB current, QWidget* parent = nullptr);

  int EntryCount() const { return static_cast<int>(colours_.size()); }
  int SelectedIndex() const { return selected_; }
  veilora::TRGB SelectedColour() const { return colours_[static_cast<std::size_t>(selected_)]; }
  // Chooses an entry as a click on its swatch does; an index out of range changes nothing.
  void SelectIndex(int index);
  QToolButton* Cell(int index) const;

 private:
  std::vector<veilora::TRGB> colours_;
  std::vector<QToolButton*> cells_;
  QButtonGroup* group_ = nullptr;
  QLabel* valueLabel_ = nullptr;
  int selected_ = 0;
};
