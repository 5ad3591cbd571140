#pragma once

// The SANE test backend ("test", in libsane's Debian package) as the only scanner, configured
// per test through a private configuration folder, and `scanimage` on the same configuration as
// the reference for pixels.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace veilora::test {

// A PNM picture as scanimage writes it: P4 (1 = black), P5 or P6, 8 or 16 bits (big-endian).
struct Pnm {
  char kind = 0;
  int width = 0;
  int height = 0;
  int maxValue = 0;
  std::vector<std::uint8_t> data;

  // Sample `c` of pixel (x, y), reduced to 8 bits; for P4 255 where the bit is white.
  int Sample(int x, int y, int c) const {
    // scanimage writes the scanner's rows as they came, also when they are wider than the width
    // its header gives (pixels lost at the end of each line).
    const std::size_t stride = data.size() / static_cast<std::size_t>(height);
    const std::size_t row = static_cast<std::size_t>(y) * stride;
    if (kind == '4') {
      const bool black = (data[row + static_cast<std::size_t>(x / 8)] >> (7 - x % 8)) & 1;
      return black ? 0 : 255;
    }
    const int channels = kind == '6' ? 3 : 1;
    const std::size_t bytes = maxValue > 255 ? 2 : 1;
    const std::size_t at = row + (static_cast<std::size_t>(x) * channels + c) * bytes;
    return data[at];  // the high byte of a big-endian 16-bit sample
  }
};

class SaneTestBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = Folder();
    std::ofstream(folder_ / "dll.conf") << "test\n";
    Configure({});
  }

  // libsane reads SANE_CONFIG_DIR once per process, so every test shares one folder, made before
  // the first sane_init and removed when the process ends.
  static const std::filesystem::path& Folder() {
    struct TFolder {
      TFolder() {
        char pattern[] = "/tmp/veilora-sane-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path = pattern;
        // No trailing ':': only this folder is read, not the system's configuration.
        setenv("SANE_CONFIG_DIR", path.c_str(), 1);
        // Kept loaded after libsane lets it go, so that the leak checker can name it (below).
        dlopen(VEILORA_SANE_BACKENDS "/libsane-test.so.1", RTLD_NOW | RTLD_NODELETE);
      }
      ~TFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
      }
      std::filesystem::path path;
    };
    static TFolder folder;
    return folder.path;
  }

  // Writes test.conf: the backend's own defaults with `changes` over them. Without this file the
  // backend's ranges are garbage (a resolution of 0.0008 dpi).
  void Configure(const std::map<std::string, std::string>& changes) {
    std::map<std::string, std::string> values = {
        {"number_of_devices", "2"},
        {"mode", "Color"},
        {"depth", "8"},
        {"hand-scanner", "false"},
        {"three-pass", "false"},
        {"three-pass-order", "RGB"},
        {"resolution_min", "1.0"},
        {"resolution_max", "1200.0"},
        {"resolution_quant", "1.0"},
        {"resolution", "50.0"},
        {"test-picture", "\"Color pattern\""},
        {"invert-endianess", "false"},
        {"read-limit", "false"},
        {"read-limit-size", "1"},
        {"read-delay", "false"},
        {"read-delay-duration", "1000"},
        {"read-status-code", "\"Default\""},
        {"fuzzy-parameters", "false"},
        {"ppl-loss", "0"},
        {"non-blocking", "false"},
        {"select-fd", "false"},
        {"enable-test-options", "false"},
        {"geometry_min", "0.0"},
        {"geometry_max", "200.0"},
        {"geometry_quant", "1.0"},
        {"tl_x", "0.0"},
        {"tl_y", "0.0"},
        {"br_x", "80.0"},
        {"br_y", "100.0"},
    };
    for (const auto& [key, value] : changes) values[key] = value;
    std::ofstream file(folder_ / "test.conf");
    for (const auto& [key, value] : values) file << key << ' ' << value << '\n';
  }

  // The scan scanimage makes of test:0 on the current configuration.
  static Pnm ScanImage(const std::string& options = {}) {
    Pnm pnm;
    const std::string command = "LD_PRELOAD=" VEILORA_SCANIMAGE_PRELOAD " scanimage -d test:0 --format=pnm " +
                                options + " 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return pnm;
    std::string bytes;
    char chunk[65536];
    for (std::size_t got; (got = fread(chunk, 1, sizeof(chunk), pipe.get())) > 0;) bytes.append(chunk, got);
    // Header: magic, width, height, (maximum value), each separated by white space or comments.
    std::size_t at = 0;
    const auto token = [&bytes, &at] {
      for (;;) {
        while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
        if (at < bytes.size() && bytes[at] == '#') {
          while (at < bytes.size() && bytes[at] != '\n') ++at;
          continue;
        }
        break;
      }
      std::string word;
      while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at]))) word += bytes[at++];
      return word;
    };
    const std::string magic = token();
    if (magic.size() != 2 || magic[0] != 'P') return pnm;
    pnm.kind = magic[1];
    pnm.width = std::atoi(token().c_str());
    pnm.height = std::atoi(token().c_str());
    pnm.maxValue = pnm.kind == '4' ? 1 : std::atoi(token().c_str());
    ++at;
    pnm.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at, bytes.size())), bytes.end());
    return pnm;
  }

  std::filesystem::path folder_;
};

}  // namespace veilora::test

// The test backend loses its picture buffer when a read ends in an error status; that is its own
// leak, not Veilora's. Defined once per test program: include this header from one file only.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libsane-test.so\n";
}
