#pragma once

// Runs Pillow (the system Python's) as an independent reader and writer of image files, through
// tests/interop/pillow_tool.py. A missing Python or Pillow is a test failure, never a skip.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/Bitmap.h"

#ifndef VEILORA_SOURCE_DIR
#error "VEILORA_SOURCE_DIR must name the source tree"
#endif

namespace veilora::test {

// Pixels as red, green, blue bytes, rows from the top.
struct TRawImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  friend bool operator==(const TRawImage&, const TRawImage&) = default;
};

// A fresh folder under the system's temporary folder, removed with the object.
class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veilora-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline TRawImage RawFromBitmap(const TBitmap& bitmap) {
  TBitmap colour;
  ConvertTo24Bit(bitmap, colour);
  TRawImage raw{colour.Width(), colour.Height(), {}};
  raw.rgb.reserve(static_cast<std::size_t>(raw.width) * raw.height * 3);
  for (int y = 0; y < colour.Height(); ++y) {
    const std::uint8_t* row = colour.ScanLine(y);
    for (int x = 0; x < colour.Width(); ++x) {
      raw.rgb.push_back(row[3 * x + 2]);
      raw.rgb.push_back(row[3 * x + 1]);
      raw.rgb.push_back(row[3 * x]);
    }
  }
  return raw;
}

inline std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Runs one of the Python tools in tests/interop (with the system's Python, where Pillow lives)
// with the arguments, each quoted; true when it exited with 0, a test failure otherwise.
inline bool RunPythonTool(const std::string& script, const std::vector<std::string>& arguments,
                          std::string* output = nullptr) {
  std::string command = "/usr/bin/python3 '" VEILORA_SOURCE_DIR "/tests/interop/" + script + "'";
  for (const std::string& argument : arguments) command += " '" + argument + "'";
  command += " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  const int status = pclose(pipe);
  if (output != nullptr) *output = text;
  if (status != 0) ADD_FAILURE() << script << " failed: " << command << "\n" << text;
  return status == 0;
}

inline bool RunPillowTool(const std::vector<std::string>& arguments, std::string* output = nullptr) {
  return RunPythonTool("pillow_tool.py", arguments, output);
}

// Pillow's reading of a file, as RGB.
inline TRawImage PillowDecode(const std::string& file) {
  TTempDir dir;
  const std::string out = dir.File("decoded.raw");
  TRawImage raw;
  if (!RunPillowTool({"decode", file, out})) return raw;
  const std::vector<std::uint8_t> bytes = ReadWholeFile(out);
  if (bytes.size() < 8) return raw;
  raw.width = static_cast<int>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24);
  raw.height = static_cast<int>(bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24);
  raw.rgb.assign(bytes.begin() + 8, bytes.end());
  return raw;
}

// Has Pillow write `image` to `file` in `format` after converting it to `mode` (see the tool).
inline bool PillowEncode(const TRawImage& image, const std::string& file, const std::string& format,
                         const std::string& mode, const std::vector<std::string>& options = {}) {
  TTempDir dir;
  const std::string in = dir.File("source.raw");
  std::vector<std::uint8_t> bytes(8);
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(image.width >> (8 * i));
    bytes[4 + i] = static_cast<std::uint8_t>(image.height >> (8 * i));
  }
  bytes.insert(bytes.end(), image.rgb.begin(), image.rgb.end());
  WriteWholeFile(in, bytes);
  std::vector<std::string> arguments{"encode", in, file, format, mode};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return RunPillowTool(arguments);
}

// A deterministic test picture: smooth gradients with some noise, so that run-length coders meet
// both runs and literals.
inline TRawImage TestPicture(int width, int height, std::uint32_t seed) {
  TRawImage raw{width, height, {}};
  std::uint32_t state = seed * 2654435761u + 1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const bool flat = ((x / 7 + y / 5) % 3) == 0;
      const int noise = flat ? 0 : static_cast<int>(state >> 29);
      raw.rgb.push_back(static_cast<std::uint8_t>((x * 255) / std::max(1, width - 1) + noise));
      raw.rgb.push_back(static_cast<std::uint8_t>((y * 255) / std::max(1, height - 1)));
      raw.rgb.push_back(static_cast<std::uint8_t>(flat ? 90 : (x ^ y) + noise));
    }
  }
  return raw;
}

// Makes a 24-bit bitmap of a raw picture.
inline void BitmapFromRaw(const TRawImage& raw, TBitmap& bitmap) {
  bitmap.Allocate(raw.width, raw.height, pf24bit);
  for (int y = 0; y < raw.height; ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    const std::uint8_t* source = raw.rgb.data() + static_cast<std::size_t>(y) * raw.width * 3;
    for (int x = 0; x < raw.width; ++x) {
      row[3 * x] = source[3 * x + 2];
      row[3 * x + 1] = source[3 * x + 1];
      row[3 * x + 2] = source[3 * x];
    }
  }
}

}  // namespace veilora::test
