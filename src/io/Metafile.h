#pragma once

// Windows metafiles (WMF) and enhanced metafiles (EMF) are loaded by rasterising them onto the
// bitmap. The core decides the size of the picture, and a player registered by the program loads
// and draws it (the window program registers the record player of MetafilePlayer.h with a painter
// device). Without a player a metafile load fails (Aborting) and changes nothing.

#include <memory>
#include <string>

#include "image/Bitmap.h"

namespace veilora {

// One loaded metafile picture.
class TMetafilePicture {
 public:
  virtual ~TMetafilePicture() = default;
  virtual bool Enhanced() const = 0;
  // The picture's size in pixels; SetSize makes it draw stretched to a new size.
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void SetSize(int width, int height) = 0;
  // Draws the picture with its top-left corner at (x, y) onto a 24-bit bitmap.
  virtual void Draw(TBitmap& target, int x, int y) = 0;
};

class TMetafilePlayer {
 public:
  virtual ~TMetafilePlayer() = default;
  // The picture in the file, or null when the file holds no metafile the player understands.
  virtual std::unique_ptr<TMetafilePicture> Load(const std::string& fileName) = 0;
};

// The process-wide player; null until the program registers one.
TMetafilePlayer* MetafilePlayer();
void SetMetafilePlayer(std::unique_ptr<TMetafilePlayer> player);

// Pictures larger than this on either side are scaled down to it, keeping their proportion.
constexpr int kMaxMetafileSide = 2800;

struct TMetafileSize {
  int width = 0;
  int height = 0;
};

// The size a metafile of `natural` size is drawn at when `width` x `height` is asked for: both
// given (not negative) sets both; only one given keeps the proportion from it; neither keeps the
// natural size. The result is then limited to kMaxMetafileSide on its longer side. A zero side in
// the result means the picture cannot be drawn.
TMetafileSize MetafileDrawSize(int width, int height, TMetafileSize natural);

}  // namespace veilora
