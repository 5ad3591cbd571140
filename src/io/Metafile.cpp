#include "io/Metafile.h"

#include <cstdint>

namespace veilora {

namespace {

std::unique_ptr<TMetafilePlayer>& PlayerSlot() {
  static std::unique_ptr<TMetafilePlayer> player;
  return player;
}

int Proportion(int side, int numerator, int denominator) {
  if (denominator == 0) return 0;
  return static_cast<int>(static_cast<std::int64_t>(side) * numerator / denominator);
}

}  // namespace

TMetafilePlayer* MetafilePlayer() {
  return PlayerSlot().get();
}

void SetMetafilePlayer(std::unique_ptr<TMetafilePlayer> player) {
  PlayerSlot() = std::move(player);
}

TMetafileSize MetafileDrawSize(int width, int height, TMetafileSize natural) {
  TMetafileSize size = natural;
  if (width >= 0 && height >= 0) {
    size = {width, height};
  } else if (height >= 0) {
    size = {Proportion(height, natural.width, natural.height), height};
  } else if (width >= 0) {
    size = {width, Proportion(width, natural.height, natural.width)};
  }
  if (size.width <= 0 || size.height <= 0) return {0, 0};
  if (size.width > kMaxMetafileSide || size.height > kMaxMetafileSide) {
    if (size.width >= size.height) {
      size = {kMaxMetafileSide, Proportion(kMaxMetafileSide, size.height, size.width)};
    } else {
      size = {Proportion(kMaxMetafileSide, size.width, size.height), kMaxMetafileSide};
    }
  }
  // A sliver scaled down this far has nothing left to draw.
  if (size.width <= 0 || size.height <= 0) return {0, 0};
  return size;
}

}  // namespace veilora
