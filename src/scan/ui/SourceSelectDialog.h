#pragma once

// The data-source manager's "Select Source" dialog: the scanners found, the current one selected.

#include <QDialog>
#include <vector>

#include "scan/TwainHost.h"

class QListWidget;

class TSourceSelectDialog : public QDialog {
 public:
  TSourceSelectDialog(const std::vector<veilora::scan::TSourceChoice>& sources, int current, QWidget* parent);
  int Chosen() const;

  QListWidget* SourceList = nullptr;
};
