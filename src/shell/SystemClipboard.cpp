#include "shell/SystemClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QStringList>
#include <QVariant>
#include <cstring>
#include <utility>

#include "image/PackedDib.h"

namespace {

constexpr int kFileHeaderBytes = 14;

std::uint32_t Get32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Put32(char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

// The picture of a packed bitmap as other programs take it: 24-bit RGB rows from the top.
QImage ImageOf(const veilora::TByteBlock& block) {
  veilora::TBitmap bitmap;
  if (!veilora::DecodePackedDib(block.data(), block.size(), bitmap)) return {};
  veilora::TBitmap colour;
  veilora::ConvertTo24Bit(bitmap, colour);
  QImage image(colour.Width(), colour.Height(), QImage::Format_RGB888);
  for (int y = 0; y < colour.Height(); ++y) {
    const std::uint8_t* in = colour.ScanLine(y);
    uchar* out = image.scanLine(y);
    for (int x = 0; x < colour.Width(); ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }
  return image;
}

// Any picture Qt decoded, as the 24-bit packed bitmap the core reads; transparency is flattened
// onto white, as the program's windows show it.
veilora::TByteBlock PackedDibOf(const QImage& picture) {
  if (picture.isNull()) return {};
  QImage flat(picture.size(), QImage::Format_RGB888);
  flat.fill(Qt::white);
  {
    QImage source = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < source.height(); ++y) {
      const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
      uchar* out = flat.scanLine(y);
      for (int x = 0; x < source.width(); ++x) {
        // Premultiplied: colour + white x (1 - alpha).
        const int keep = 255 - qAlpha(in[x]);
        out[3 * x] = static_cast<uchar>(qRed(in[x]) + keep);
        out[3 * x + 1] = static_cast<uchar>(qGreen(in[x]) + keep);
        out[3 * x + 2] = static_cast<uchar>(qBlue(in[x]) + keep);
      }
    }
  }
  veilora::TBitmap bitmap;
  try {
    bitmap.Allocate(flat.width(), flat.height(), veilora::pf24bit);
  } catch (const std::exception&) {
    return {};
  }
  for (int y = 0; y < flat.height(); ++y) {
    const uchar* in = flat.constScanLine(y);
    std::uint8_t* out = bitmap.ScanLine(y);
    for (int x = 0; x < flat.width(); ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }
  return veilora::EncodePackedDib(bitmap);
}

veilora::TByteBlock Bytes(const QByteArray& data) {
  return veilora::TByteBlock(reinterpret_cast<const std::uint8_t*>(data.constData()),
                             static_cast<std::size_t>(data.size()));
}

QByteArray ByteArray(const veilora::TByteBlock& block) {
  return QByteArray(reinterpret_cast<const char*>(block.data()), static_cast<qsizetype>(block.size()));
}

// The copied block, and the forms other programs ask for, made when they ask.
class TPackedDibMimeData final : public QMimeData {
 public:
  explicit TPackedDibMimeData(veilora::TByteBlock block) : block_(std::move(block)) {}

  QStringList formats() const override {
    return {QString::fromLatin1(TSystemClipboard::kPrivateType),
            QString::fromLatin1(TSystemClipboard::kBmpType), QStringLiteral("application/x-qt-image")};
  }
  bool hasFormat(const QString& mimeType) const override { return formats().contains(mimeType); }

 protected:
  QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
    if (mimeType == QLatin1String(TSystemClipboard::kPrivateType)) return ByteArray(block_);
    if (mimeType == QLatin1String(TSystemClipboard::kBmpType)) return BmpFileFromPackedDib(block_);
    // Qt asks for the image to hand it out as PNG and the other image types.
    if (mimeType == QLatin1String("application/x-qt-image") && type.id() == QMetaType::QImage)
      return QVariant::fromValue(ImageOf(block_));
    return {};
  }

 private:
  veilora::TByteBlock block_;
};

}  // namespace

QByteArray BmpFileFromPackedDib(const veilora::TByteBlock& block) {
  QByteArray file(kFileHeaderBytes, '\0');
  file[0] = 'B';
  file[1] = 'M';
  Put32(file.data() + 2, static_cast<std::uint32_t>(kFileHeaderBytes + block.size()));
  // The pixels start after the header and the colour table: 2 entries for 1 bit, none for 24.
  std::uint32_t pixels = kFileHeaderBytes;
  if (block.size() >= 16) {
    pixels += Get32(block.data());
    if ((block.data()[14] | (block.data()[15] << 8)) == 1) pixels += 8;
  }
  Put32(file.data() + 10, pixels);
  file.append(ByteArray(block));
  return file;
}

veilora::TByteBlock PackedDibFromBmpFile(const QByteArray& file) {
  if (file.size() <= kFileHeaderBytes || !file.startsWith("BM")) return {};
  return Bytes(file.mid(kFileHeaderBytes));
}

bool TSystemClipboard::PutPackedDib(veilora::TByteBlock block) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr) return false;
  clipboard->setMimeData(new TPackedDibMimeData(std::move(block)));
  return true;
}

veilora::TByteBlock TSystemClipboard::PackedDib() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard != nullptr ? clipboard->mimeData() : nullptr;
  if (data == nullptr) return {};
  if (data->hasFormat(QString::fromLatin1(kPrivateType)))
    return Bytes(data->data(QString::fromLatin1(kPrivateType)));
  if (data->hasFormat(QString::fromLatin1(kBmpType))) {
    veilora::TByteBlock block = PackedDibFromBmpFile(data->data(QString::fromLatin1(kBmpType)));
    if (!block.empty()) return block;
  }
  if (data->hasImage()) return PackedDibOf(qvariant_cast<QImage>(data->imageData()));
  return {};
}
