#pragma once

// The selected entry of a file dialog's type list, counted from 1 as the filter texts count them.

class QFileDialog;

namespace veilora {

// 0 when the list is empty. Two entries that read alike ("Windows Bitmap (BMP)" and "OS/2 Bitmap
// (BMP)" both match *.bmp) are still told apart by their position.
int SelectedFilterIndex(const QFileDialog& dialog);
// Selects the entry at `index` (from 1); an index outside the list changes nothing.
void SelectFilterIndex(QFileDialog& dialog, int index);

}  // namespace veilora
