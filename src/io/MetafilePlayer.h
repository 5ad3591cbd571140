#pragma once

// The program's own metafile player: it reads Windows metafiles and enhanced metafiles with the
// record readers of the core and draws them through a device that the caller supplies for each
// target bitmap (the window program supplies a painter).
//
// Natural size in pixels at the default resolution: a placeable WMF's bounds in its units per
// inch; a WMF without placeable bounds, the first window extent of its records, one logical unit
// to a pixel; an EMF's frame (hundredths of a millimetre), or its bounds when the frame is empty.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/EmfReader.h"
#include "io/Metafile.h"
#include "io/MetafileDevice.h"
#include "io/WmfReader.h"

namespace veilora {

// Files larger than this are not read: a drawing that size is no picture a user would open here.
constexpr std::int64_t kMaxMetafileBytes = std::int64_t{256} << 20;

// Makes the device that draws onto `target`; the device has finished drawing when destroyed.
using TMetafileDeviceFactory = std::function<std::unique_ptr<TMetafileDevice>(TBitmap& target)>;

// A metafile read into memory.
struct TMetafileData {
  bool enhanced = false;
  std::vector<std::uint8_t> bytes;
  TWmfHeader wmf;
  TEmfHeader emf;
  int width = 0;
  int height = 0;
};

// Recognises the bytes as a WMF (placeable or not) or an EMF and works out the natural size. False
// for anything else.
bool ParseMetafile(std::vector<std::uint8_t> bytes, TMetafileData& out);

// Plays the picture onto `device` so that it fills the rectangle at (x, y) of width x height
// device pixels.
void PlayMetafile(const TMetafileData& data, TMetafileDevice& device, double x, double y, double width,
                  double height);

class TRecordMetafilePlayer : public TMetafilePlayer {
 public:
  explicit TRecordMetafilePlayer(TMetafileDeviceFactory factory) : factory_(std::move(factory)) {}
  // Raises EStreamError for a file that cannot be opened, as every file load does.
  std::unique_ptr<TMetafilePicture> Load(const std::string& fileName) override;

 private:
  TMetafileDeviceFactory factory_;
};

}  // namespace veilora
