#include "io/FormatRegistry.h"

#include <algorithm>
#include <cctype>

namespace veilora {

namespace {

constexpr std::size_t kMaxRegistryText = 80;

std::vector<TFileFormatInfo> BuiltInFormats() {
  std::vector<TFileFormatInfo> formats;
  const auto add = [&](std::int32_t code, const char* description, const char* extensions) {
    TFileFormatInfo info;
    info.FileType = code;
    info.Description = description;
    info.Extensions = extensions;
    formats.push_back(std::move(info));
  };
  add(ftTIFF, "TIFF Bitmap", "TIF;TIFF");
  add(ftGIF, "CompuServe Bitmap", "GIF");
  add(ftJPEG, "JPEG Bitmap", "JPG;JPEG;JPE");
  add(ftPCX, "PaintBrush", "PCX");
  add(ftBMP, "Windows Bitmap", "BMP;DIB;RLE");
  add(ftICO, "Windows Icon", "ICO");
  add(ftCUR, "Windows Cursor", "CUR");
  add(ftPNG, "Portable Network Graphics", "PNG");
  add(ftWMF, "Windows Metafile", "WMF");
  add(ftEMF, "Enhanced Windows Metafile", "EMF");
  add(ftTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX");
  return formats;
}

std::vector<std::string> SplitExtensions(const std::string& list) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(';', start), list.size());
    if (end > start) parts.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::vector<TFileFormatInfo>& FileFormats() {
  static std::vector<TFileFormatInfo> formats = BuiltInFormats();
  return formats;
}

void RegisterFileFormat(TFileFormatInfo info) {
  if (info.Description.size() > kMaxRegistryText) info.Description.resize(kMaxRegistryText);
  if (info.Extensions.size() > kMaxRegistryText) info.Extensions.resize(kMaxRegistryText);
  FileFormats().push_back(std::move(info));
}

const TFileFormatInfo* FormatByType(std::int32_t fileType) {
  for (const TFileFormatInfo& info : FileFormats()) {
    if (info.FileType == fileType) return &info;
  }
  return nullptr;
}

const TFileFormatInfo* FormatByExtension(std::string_view extension) {
  for (const TFileFormatInfo& info : FileFormats()) {
    for (const std::string& candidate : SplitExtensions(info.Extensions)) {
      if (SameIgnoringCase(candidate, extension)) return &info;
    }
  }
  return nullptr;
}

std::string FormatExtension(std::int32_t fileType, int index) {
  const TFileFormatInfo* info = FormatByType(fileType);
  if (info == nullptr || index < 0) return {};
  const std::vector<std::string> parts = SplitExtensions(info->Extensions);
  return static_cast<std::size_t>(index) < parts.size() ? parts[static_cast<std::size_t>(index)]
                                                        : std::string{};
}

int FormatExtensionCount(std::int32_t fileType) {
  const TFileFormatInfo* info = FormatByType(fileType);
  return info == nullptr ? 0 : static_cast<int>(SplitExtensions(info->Extensions).size());
}

}  // namespace veilora
