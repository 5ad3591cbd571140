#include "io/MetafilePlayer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "io/IOParams.h"
#include "io/Stream.h"

namespace veilora {

namespace {

int PixelSide(double value) {
  value = std::abs(value);
  if (!std::isfinite(value)) return 0;
  return static_cast<int>(std::min(std::lround(value), long{std::numeric_limits<int>::max()}));
}

class TRecordPicture : public TMetafilePicture {
 public:
  TRecordPicture(TMetafileData data, const TMetafileDeviceFactory& factory)
      : data_(std::move(data)), factory_(factory), width_(data_.width), height_(data_.height) {}

  bool Enhanced() const override { return data_.enhanced; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void SetSize(int width, int height) override {
    width_ = width;
    height_ = height;
  }
  void Draw(TBitmap& target, int x, int y) override {
    if (!factory_) return;
    std::unique_ptr<TMetafileDevice> device = factory_(target);
    if (device) PlayMetafile(data_, *device, x, y, width_, height_);
  }

 private:
  TMetafileData data_;
  TMetafileDeviceFactory factory_;
  int width_;
  int height_;
};

}  // namespace

bool ParseMetafile(std::vector<std::uint8_t> bytes, TMetafileData& out) {
  out = {};
  const TDefaultResolution dpi = DefaultResolution();
  if (ReadEmfHeader(bytes.data(), bytes.size(), out.emf)) {
    out.enhanced = true;
    const TEmfHeader& h = out.emf;
    const double frameWidth = double(h.frameRight) - h.frameLeft,
                 frameHeight = double(h.frameBottom) - h.frameTop;
    if (frameWidth > 0 && frameHeight > 0) {
      out.width = PixelSide(frameWidth * dpi.dpiX / 2540);
      out.height = PixelSide(frameHeight * dpi.dpiY / 2540);
    } else {
      out.width = PixelSide(double(h.boundsRight) - h.boundsLeft + 1);
      out.height = PixelSide(double(h.boundsBottom) - h.boundsTop + 1);
    }
  } else if (ReadWmfHeader(bytes.data(), bytes.size(), out.wmf)) {
    const TWmfHeader& h = out.wmf;
    if (h.placeable) {
      out.width = PixelSide((h.right - h.left) * dpi.dpiX / h.unitsPerInch);
      out.height = PixelSide((h.bottom - h.top) * dpi.dpiY / h.unitsPerInch);
    } else {
      out.width = PixelSide(h.right - h.left);
      out.height = PixelSide(h.bottom - h.top);
    }
  } else {
    return false;
  }
  out.bytes = std::move(bytes);
  return true;
}

void PlayMetafile(const TMetafileData& data, TMetafileDevice& device, double x, double y, double width,
                  double height) {
  if (data.enhanced) {
    double left = 0, top = 0, right = 0, bottom = 0;
    data.emf.FramePixels(left, top, right, bottom);
    if (!(right > left) || !(bottom > top)) {
      left = data.emf.boundsLeft;
      top = data.emf.boundsTop;
      right = double(data.emf.boundsRight) + 1;
      bottom = double(data.emf.boundsBottom) + 1;
    }
    if (!(right > left) || !(bottom > top)) return;
    // The frame, in the reference device's pixels, onto the target rectangle.
    TMfMatrix frame;
    frame.m11 = width / (right - left);
    frame.m22 = height / (bottom - top);
    frame.dx = x - left * frame.m11;
    frame.dy = y - top * frame.m22;
    TMetafilePlayback playback(device, frame, data.emf.PixelsPerMm());
    PlayEmf(data.bytes.data(), data.bytes.size(), playback);
    return;
  }
  // A Windows metafile is played as into a device whose window covers the picture's rectangle and
  // whose viewport is the target rectangle; the records may set both again.
  const TDefaultResolution dpi = DefaultResolution();
  TMetafilePlayback playback(device, TMfMatrix{}, {dpi.dpiX / 25.4, dpi.dpiY / 25.4});
  const TWmfHeader& h = data.wmf;
  playback.SetMapMode(kMmAnisotropic);
  playback.SetWindowOrg({h.left, h.top});
  playback.SetWindowExt({h.right - h.left, h.bottom - h.top});
  playback.SetViewportOrg({x, y});
  playback.SetViewportExt({width, height});
  PlayWmf(data.bytes.data(), data.bytes.size(), h, playback);
}

std::unique_ptr<TMetafilePicture> TRecordMetafilePlayer::Load(const std::string& fileName) {
  TFileStream file(fileName, TFileStream::Mode::Read);
  const std::int64_t size = file.Size();
  if (size <= 0 || size > kMaxMetafileBytes) return nullptr;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (!file.ReadExact(bytes.data(), bytes.size())) return nullptr;
  TMetafileData data;
  if (!ParseMetafile(std::move(bytes), data)) return nullptr;
  return std::make_unique<TRecordPicture>(std::move(data), factory_);
}

}  // namespace veilora
