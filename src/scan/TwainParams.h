#pragma once

// The scanner parameters of an input/output component: the sources the manager reports, the
// chosen one, whether the source shows its own dialog, and the capabilities to ask of it. Each
// list remembers whether its values, its current value or its range were changed; only changed
// lists are sent to the source.

#include <cstdint>
#include <string>
#include <vector>

#include "scan/Twain.h"

namespace veilora {

template <typename T>
class TTwainList {
 public:
  std::vector<T> Values;
  T Current{};
  T RangeMin{};
  T RangeMax{};
  T RangeStep{};

  void SetCurrent(T value) {
    Current = value;
    CurrentChanged = true;
  }
  void SetValues(std::vector<T> values) {
    Values = std::move(values);
    ValuesChanged = true;
  }
  void SetRange(T low, T high, T step) {
    RangeMin = low;
    RangeMax = high;
    RangeStep = step;
    RangeChanged = true;
  }
  bool Changed() const { return CurrentChanged || ValuesChanged || RangeChanged; }
  void ClearChanges() { CurrentChanged = ValuesChanged = RangeChanged = false; }

  bool CurrentChanged = false;
  bool ValuesChanged = false;
  bool RangeChanged = false;
};

struct TTwainFrame {
  double Left = 0;
  double Top = 0;
  double Right = 0;
  double Bottom = 0;
  bool Empty() const { return Right <= Left || Bottom <= Top; }
};

class TTwainParams {
 public:
  // Every source the manager reports (filled on first use).
  std::vector<twain::TW_IDENTITY> TwainSourceList;
  bool SourceListFilled = false;
  std::int32_t TwainSourceIndex = 0;
  bool TwainShowUI = true;
  TTwainList<double> TwainResolutionX;
  TTwainList<double> TwainResolutionY;
  TTwainList<double> TwainScalingX;
  TTwainList<double> TwainScalingY;
  // 0 black and white, 1 grey, 2 RGB.
  TTwainList<std::int32_t> TwainPixelType;
  double TwainGamma = 2.2;
  double TwainPhysicalWidth = 0;
  double TwainPhysicalHeight = 0;
  bool TwainFeeder = false;
  TTwainList<std::int32_t> TwainOrientation;
  bool TwainIndicators = true;
  // Left, top, right, bottom of the area to acquire, in inches; an empty frame is not sent.
  TTwainFrame TwainFrame;
  bool TwainMemoryTransfer = true;
  // The application identity's texts.
  std::string VersionInfo;
  std::string Manufacturer;
  std::string ProductFamily;
  std::string ProductName;

  // The first source whose product name begins with `name` (any case) becomes current; false
  // when none does.
  bool SelectSourceByName(const std::string& name);
  // The product name of the source at `index`, or "".
  std::string SourceName(std::int32_t index) const;
  // The source list from the manager, once.
  void FillSourceList();
};

}  // namespace veilora
