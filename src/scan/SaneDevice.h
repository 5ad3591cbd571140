#pragma once

// Scanners reached through SANE (libsane): the device list, one opened device with the options a
// data source offers (mode, resolution, scan area), and a scan read to the end of every frame.
//
// libsane reads its configuration when it starts; SANE_CONFIG_DIR, when set, names the folders it
// reads it from (a trailing ":" adds the system's folders).

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scan/ScanImage.h"

namespace veilora::scan {

// The library stays initialised while any TSaneLibrary lives.
class TSaneLibrary {
 public:
  TSaneLibrary();
  ~TSaneLibrary();
  TSaneLibrary(const TSaneLibrary&) = delete;
  TSaneLibrary& operator=(const TSaneLibrary&) = delete;
  bool Ready() const { return ready_; }

 private:
  bool ready_ = false;
};

struct TDeviceInfo {
  std::string name;  // unique, such as "test:0"
  std::string vendor;
  std::string model;
  std::string type;
};

// Every scanner libsane finds, local and networked. Needs a live TSaneLibrary.
std::vector<TDeviceInfo> ListDevices();

enum class TScanMode : std::uint8_t { BlackWhite, Grey, Colour };

// The outcome of a device operation in TWAIN's terms, with a message for the user.
struct TScanStatus {
  std::uint16_t returnCode = 0;     // TWRC_SUCCESS, TWRC_FAILURE or TWRC_CANCEL
  std::uint16_t conditionCode = 0;  // TWCC_...
  std::string message;
  bool Ok() const { return returnCode == 0; }
};

// A SANE status as a TWAIN return and condition code with a message: cancelled is TWRC_CANCEL, a
// jammed feeder TWCC_PAPERJAM, an empty feeder TWCC_NOMEDIA, and so on.
TScanStatus StatusFromSane(int saneStatus);

// Scan area in millimetres from the top-left corner of the scanner's bed.
struct TScanArea {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
};

struct TScanSettings {
  TScanMode mode = TScanMode::Colour;
  double resolution = 0;  // dots per inch; 0 keeps the device's
  bool setArea = false;
  TScanArea area;
};

// What an opened device offers.
struct TDeviceOptions {
  std::vector<TScanMode> modes;
  TScanMode mode = TScanMode::Grey;
  // A range (step 0 for any value) or, when `resolutionList` is not empty, those values.
  double resolutionMin = 0;
  double resolutionMax = 0;
  double resolutionStep = 0;
  std::vector<double> resolutionList;
  double resolution = 0;
  // The largest area; false when the device has no area to choose (a hand scanner).
  bool hasArea = false;
  TScanArea maxArea;
  TScanArea area;
};

// Rows read so far and rows expected (-1 when the device does not know), and which frame of how
// many (three-pass scanners send three). Returning false cancels the scan.
using TScanProgress = std::function<bool(std::int32_t rows, std::int32_t expected, int frame)>;

class TSaneDevice {
 public:
  TSaneDevice() = default;
  ~TSaneDevice();
  TSaneDevice(const TSaneDevice&) = delete;
  TSaneDevice& operator=(const TSaneDevice&) = delete;

  TScanStatus Open(const std::string& name);
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }
  const std::string& Name() const { return name_; }

  TDeviceOptions Options();
  // Sets mode (with the bit depth it needs), then resolution, then area: a mode change may change
  // the ranges of the others.
  TScanStatus Apply(const TScanSettings& settings);
  // Scans with the options as they are, reading every frame to its end; the device is always
  // cancelled afterwards, so the next scan starts clean. Cancelled when `progress` says so or
  // `cancel` turns true.
  TScanStatus Scan(TScanImage& image, const TScanProgress& progress, const std::atomic<bool>* cancel);

 private:
  int FindOption(const char* name) const;
  bool SetNumber(int option, double value);
  bool SetString(int option, const std::string& value);
  double GetNumber(int option) const;
  std::string GetString(int option) const;

  void* handle_ = nullptr;
  std::string name_;
};

}  // namespace veilora::scan
