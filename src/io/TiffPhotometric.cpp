#include "io/TiffPhotometric.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace veilora {

namespace {

std::uint8_t Clamp8(std::int32_t value) {
  return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// 16-bit samples to 8 bits with rounding, 0 and 65535 staying black and white.
std::uint8_t From16(std::uint32_t value) {
  return static_cast<std::uint8_t>((value + 128) / 257);
}

std::int32_t Fixed(double value) {
  return static_cast<std::int32_t>(std::lround(value * 65536.0));
}

}  // namespace

bool TSampleConverter::Setup(const TSampleLayout& layout) {
  layout_ = layout;
  const int bits = layout.bitsPerSample;
  const int samples = layout.samplesPerPixel;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) return false;
  if (layout.width < 1 || samples < 1) return false;
  switch (layout.photometric) {
    case kTiffWhiteIsZero:
    case kTiffBlackIsZero:
    case kTiffMask: channels_ = 1; break;
    case kTiffPalette:
      channels_ = 1;
      if (bits == 16 && layout.colorMap.size() < 65536) return false;
      if (bits < 16 && layout.colorMap.size() < (std::size_t{1} << bits)) return false;
      break;
    case kTiffRgb: channels_ = 3; break;
    case kTiffSeparated: channels_ = 4; break;
    case kTiffYCbCr:
      channels_ = 3;
      if (bits != 8) return false;
      break;
    case kTiffCieLab:
      channels_ = 3;
      if (bits != 8 && bits != 16) return false;
      break;
    default: return false;
  }
  if (samples < channels_) return false;

  const int h = layout.subsampleH;
  const int v = layout.subsampleV;
  const bool subsampled = layout.photometric == kTiffYCbCr && (h != 1 || v != 1);
  if (!subsampled) {
    layout_.subsampleH = layout_.subsampleV = 1;
  } else if ((h != 1 && h != 2 && h != 4) || (v != 1 && v != 2 && v != 4) || v > h || samples != 3 ||
             layout.separatePlanes) {
    // Subsampled data comes in units of h x v luma samples and one chroma pair; other shapes, and
    // chroma planes of their own size, are not decoded.
    return false;
  }

  planes_ = layout.separatePlanes ? channels_ : 1;
  const std::uint64_t width = static_cast<std::uint64_t>(layout.width);
  if (subsampled) {
    rowBytes_ = static_cast<std::size_t>((width + h - 1) / h * static_cast<std::uint64_t>(h * v + 2));
  } else {
    const std::uint64_t perRow = width * static_cast<std::uint64_t>(layout.separatePlanes ? 1 : samples);
    rowBytes_ = static_cast<std::size_t>((perRow * static_cast<std::uint64_t>(bits) + 7) / 8);
  }

  oneBit_ = false;
  invertBits_ = false;
  if (bits == 1 && samples == 1) {
    if (layout.photometric == kTiffWhiteIsZero || layout.photometric == kTiffBlackIsZero ||
        layout.photometric == kTiffMask) {
      oneBit_ = true;
      invertBits_ = layout.photometric == kTiffWhiteIsZero;
    } else if (layout.photometric == kTiffPalette) {
      // A black-and-white palette stays a two-colour image; any other pair of colours keeps its
      // colours in a true-colour bitmap.
      const TRGB black{0, 0, 0};
      const TRGB white{255, 255, 255};
      if (layout.colorMap[0] == black && layout.colorMap[1] == white) {
        oneBit_ = true;
      } else if (layout.colorMap[0] == white && layout.colorMap[1] == black) {
        oneBit_ = invertBits_ = true;
      }
    }
  }

  const int maxValue = (1 << std::min(bits, 8)) - 1;
  for (int i = 0; i < 256; ++i) scale_[static_cast<std::size_t>(i)] = Clamp8(i * 255 / maxValue);

  const int low = layout.dotLow;
  const int high = layout.dotHigh;
  for (int i = 0; i < 256; ++i) {
    dot_[static_cast<std::size_t>(i)] =
        high > low ? Clamp8((i - low) * 255 / (high - low)) : static_cast<std::uint8_t>(i);
  }

  if (layout.photometric == kTiffYCbCr) {
    const auto& rbw = layout.referenceBlackWhite;
    const double lr = layout.luma[0];
    const double lg = layout.luma[1] != 0 ? layout.luma[1] : 0.587;
    const double lb = layout.luma[2];
    const auto span = [](double black, double white) { return white - black != 0 ? white - black : 1.0; };
    for (int i = 0; i < 256; ++i) {
      const double y = (i - rbw[0]) * 255.0 / span(rbw[0], rbw[1]);
      const double cb = (i - rbw[2]) * 127.0 / span(rbw[2], rbw[3]);
      const double cr = (i - rbw[4]) * 127.0 / span(rbw[4], rbw[5]);
      const auto at = static_cast<std::size_t>(i);
      yTab_[at] = Fixed(std::clamp(y, -4096.0, 4096.0));
      crR_[at] = Fixed(std::clamp(cr * (2 - 2 * lr), -4096.0, 4096.0));
      cbB_[at] = Fixed(std::clamp(cb * (2 - 2 * lb), -4096.0, 4096.0));
      crG_[at] = Fixed(std::clamp(-cr * lr * (2 - 2 * lr) / lg, -4096.0, 4096.0));
      cbG_[at] = Fixed(std::clamp(-cb * lb * (2 - 2 * lb) / lg, -4096.0, 4096.0));
    }
  }
  return true;
}

void TSampleConverter::YCbCrPixel(int y, int cb, int cr, std::uint8_t* bgr) const {
  const std::int32_t base = yTab_[static_cast<std::size_t>(y)] + 32768;
  const auto icb = static_cast<std::size_t>(cb);
  const auto icr = static_cast<std::size_t>(cr);
  bgr[0] = Clamp8((base + cbB_[icb]) >> 16);
  bgr[1] = Clamp8((base + cbG_[icb] + crG_[icr]) >> 16);
  bgr[2] = Clamp8((base + crR_[icr]) >> 16);
}

std::uint32_t TSampleConverter::Sample(const std::uint8_t* const* planes, int channel, int x) const {
  const int bits = layout_.bitsPerSample;
  const std::uint8_t* row = planes[layout_.separatePlanes ? channel : 0];
  const std::size_t index =
      layout_.separatePlanes
          ? static_cast<std::size_t>(x)
          : static_cast<std::size_t>(x) * static_cast<std::size_t>(layout_.samplesPerPixel) +
                static_cast<std::size_t>(channel);
  switch (bits) {
    case 8: return row[index];
    case 16: {
      const std::uint8_t* p = row + 2 * index;
      return layout_.bigEndian ? (std::uint32_t{p[0]} << 8 | p[1]) : (std::uint32_t{p[1]} << 8 | p[0]);
    }
    default: {
      const std::size_t bit = index * static_cast<std::size_t>(bits);
      const unsigned shift = 8 - static_cast<unsigned>(bits) - static_cast<unsigned>(bit % 8);
      return (row[bit / 8] >> shift) & ((1u << bits) - 1);
    }
  }
}

void TSampleConverter::ConvertGeneral(const std::uint8_t* const* planes, std::uint8_t* out) {
  const int width = layout_.width;
  const bool wide = layout_.bitsPerSample == 16;
  const auto to8 = [&](std::uint32_t value) {
    return wide ? From16(value) : scale_[static_cast<std::size_t>(value)];
  };
  for (int x = 0; x < width; ++x, out += 3) {
    switch (layout_.photometric) {
      case kTiffWhiteIsZero:
      case kTiffBlackIsZero:
      case kTiffMask: {
        std::uint8_t grey = to8(Sample(planes, 0, x));
        if (layout_.photometric == kTiffWhiteIsZero) grey = static_cast<std::uint8_t>(255 - grey);
        out[0] = out[1] = out[2] = grey;
        break;
      }
      case kTiffPalette: {
        const TRGB& colour = layout_.colorMap[Sample(planes, 0, x)];
        out[0] = colour.b;
        out[1] = colour.g;
        out[2] = colour.r;
        break;
      }
      case kTiffRgb:
        out[2] = to8(Sample(planes, 0, x));
        out[1] = to8(Sample(planes, 1, x));
        out[0] = to8(Sample(planes, 2, x));
        break;
      case kTiffSeparated: {
        // Ink coverage to light, each ink filtering what the black ink lets through.
        const unsigned k = 255u - dot_[to8(Sample(planes, 3, x))];
        out[2] = static_cast<std::uint8_t>(k * (255u - dot_[to8(Sample(planes, 0, x))]) / 255u);
        out[1] = static_cast<std::uint8_t>(k * (255u - dot_[to8(Sample(planes, 1, x))]) / 255u);
        out[0] = static_cast<std::uint8_t>(k * (255u - dot_[to8(Sample(planes, 2, x))]) / 255u);
        break;
      }
      case kTiffYCbCr:
        YCbCrPixel(static_cast<int>(Sample(planes, 0, x)), static_cast<int>(Sample(planes, 1, x)),
                   static_cast<int>(Sample(planes, 2, x)), out);
        break;
      case kTiffCieLab: {
        // L* is unsigned over 0..100; a* and b* are signed (two's complement) samples.
        const std::uint32_t l = Sample(planes, 0, x);
        const std::uint32_t a = Sample(planes, 1, x);
        const std::uint32_t b = Sample(planes, 2, x);
        TRGB colour;
        if (wide) {
          colour = LabToSrgb(l * 100.0 / 65535.0, static_cast<std::int16_t>(a) / 256.0,
                             static_cast<std::int16_t>(b) / 256.0);
        } else {
          colour = LabToSrgb(l * 100.0 / 255.0, static_cast<std::int8_t>(a), static_cast<std::int8_t>(b));
        }
        out[0] = colour.b;
        out[1] = colour.g;
        out[2] = colour.r;
        break;
      }
      default: break;
    }
  }
}

void TSampleConverter::ConvertSubsampled(const std::uint8_t* row, std::uint8_t* const* out, int rows) const {
  const int h = layout_.subsampleH;
  const int v = layout_.subsampleV;
  const int width = layout_.width;
  const std::size_t unitBytes = static_cast<std::size_t>(h * v + 2);
  for (int x0 = 0; x0 < width; x0 += h, row += unitBytes) {
    const int cb = row[h * v];
    const int cr = row[h * v + 1];
    for (int dy = 0; dy < rows && dy < v; ++dy) {
      for (int dx = 0; dx < h && x0 + dx < width; ++dx) {
        YCbCrPixel(row[dy * h + dx], cb, cr, out[dy] + 3 * static_cast<std::size_t>(x0 + dx));
      }
    }
  }
}

void TSampleConverter::Convert(const std::uint8_t* const* planes, std::uint8_t* const* out, int rows) {
  const int width = layout_.width;
  if (oneBit_) {
    const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8;
    std::uint8_t* target = out[0];
    const std::uint8_t* source = planes[0];
    const std::uint8_t flip = invertBits_ ? 0xFF : 0x00;
    for (std::size_t i = 0; i < bytes; ++i) target[i] = source[i] ^ flip;
    // The bits past the last pixel are padding, kept clear.
    if (width % 8 != 0) target[bytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 - width % 8));
    return;
  }
  if (layout_.photometric == kTiffYCbCr && (layout_.subsampleH != 1 || layout_.subsampleV != 1)) {
    ConvertSubsampled(planes[0], out, rows);
    return;
  }
  std::uint8_t* target = out[0];
  if (layout_.bitsPerSample == 8 && !layout_.separatePlanes) {
    const std::uint8_t* source = planes[0];
    const auto step = static_cast<std::size_t>(layout_.samplesPerPixel);
    if (layout_.photometric == kTiffRgb) {
      if (step == 3) {
        for (int x = 0; x < width; ++x, source += 3, target += 3) {
          target[0] = source[2];
          target[1] = source[1];
          target[2] = source[0];
        }
      } else {
        for (int x = 0; x < width; ++x, source += step, target += 3) {
          target[0] = source[2];
          target[1] = source[1];
          target[2] = source[0];
        }
      }
      return;
    }
    if (layout_.photometric == kTiffBlackIsZero || layout_.photometric == kTiffWhiteIsZero) {
      const std::uint8_t flip = layout_.photometric == kTiffWhiteIsZero ? 0xFF : 0x00;
      for (int x = 0; x < width; ++x, source += step, target += 3) {
        target[0] = target[1] = target[2] = static_cast<std::uint8_t>(*source ^ flip);
      }
      return;
    }
  }
  if (layout_.bitsPerSample == 8 && layout_.separatePlanes && layout_.photometric == kTiffRgb) {
    const std::uint8_t* red = planes[0];
    const std::uint8_t* green = planes[1];
    const std::uint8_t* blue = planes[2];
    for (int x = 0; x < width; ++x, target += 3) {
      target[0] = blue[x];
      target[1] = green[x];
      target[2] = red[x];
    }
    return;
  }
  ConvertGeneral(planes, target);
}

bool TSampleConverter::ConvertsDifferences() const {
  return layout_.photometric == kTiffRgb && layout_.bitsPerSample == 8 && !layout_.separatePlanes;
}

void TSampleConverter::ConvertDifferences(const std::uint8_t* row, std::uint8_t* out) const {
  const auto step = static_cast<std::size_t>(layout_.samplesPerPixel);
  unsigned red = 0;
  unsigned green = 0;
  unsigned blue = 0;
  for (int x = 0; x < layout_.width; ++x, row += step, out += 3) {
    red += row[0];
    green += row[1];
    blue += row[2];
    out[0] = static_cast<std::uint8_t>(blue);
    out[1] = static_cast<std::uint8_t>(green);
    out[2] = static_cast<std::uint8_t>(red);
  }
}

TRGB LabToSrgb(double l, double a, double b) {
  // The D50 white, as the graphic arts use for L*a*b* data.
  constexpr double kWhiteX = 0.9642;
  constexpr double kWhiteZ = 0.8249;
  constexpr double kEpsilon = 6.0 / 29.0;
  const auto inverse = [](double t) {
    return t > kEpsilon ? t * t * t : 3 * kEpsilon * kEpsilon * (t - 4.0 / 29.0);
  };
  const double fy = (l + 16.0) / 116.0;
  const double x = kWhiteX * inverse(fy + a / 500.0);
  const double y = inverse(fy);
  const double z = kWhiteZ * inverse(fy - b / 200.0);
  // XYZ (D50) to linear sRGB with the Bradford adaptation to sRGB's D65 white folded in.
  const double linear[3] = {
      3.1338561 * x - 1.6168667 * y - 0.4906146 * z,
      -0.9787684 * x + 1.9161415 * y + 0.0334540 * z,
      0.0719453 * x - 0.2289914 * y + 1.4052427 * z,
  };
  std::uint8_t encoded[3];
  for (int i = 0; i < 3; ++i) {
    const double c = std::clamp(linear[i], 0.0, 1.0);
    const double gamma = c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
    encoded[i] = static_cast<std::uint8_t>(std::lround(std::clamp(gamma, 0.0, 1.0) * 255.0));
  }
  return TRGB{encoded[2], encoded[1], encoded[0]};
}

}  // namespace veilora
