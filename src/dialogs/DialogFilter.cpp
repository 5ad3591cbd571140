#include "dialogs/DialogFilter.h"

#include <algorithm>
#include <cctype>

#include "io/IOParams.h"
#include "io/ImageIO.h"

namespace veilora {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

// Where the name part of a path starts: after the last slash (and backslash, which users of the
// other toolkit type out of habit).
std::size_t NameStart(std::string_view fileName) {
  const std::size_t slash = fileName.find_last_of("/\\");
  return slash == std::string_view::npos ? 0 : slash + 1;
}

// The position of the extension's dot, or npos.
std::size_t ExtensionDot(std::string_view fileName) {
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot < NameStart(fileName)) return std::string_view::npos;
  return dot;
}

// 2^bits in decimal, for any number of bits, by doubling a decimal digit string.
std::string PowerOfTwoText(int bits) {
  std::string digits = "1";  // least significant digit first
  for (int i = 0; i < bits; ++i) {
    int carry = 0;
    for (char& digit : digits) {
      const int value = (digit - '0') * 2 + carry;
      digit = static_cast<char>('0' + value % 10);
      carry = value / 10;
    }
    if (carry != 0) digits.push_back(static_cast<char>('0' + carry));
  }
  std::reverse(digits.begin(), digits.end());
  return digits;
}

}  // namespace

std::vector<TFilterEntry> ParseFilter(std::string_view filterText) {
  std::vector<TFilterEntry> entries;
  if (filterText.empty()) return entries;
  const std::vector<std::string_view> parts = Split(filterText, '|');
  for (std::size_t i = 0; i < parts.size(); i += 2) {
    TFilterEntry entry;
    entry.Description = std::string(parts[i]);
    if (i + 1 < parts.size()) {
      for (std::string_view pattern : Split(parts[i + 1], ';')) {
        pattern = Trim(pattern);
        if (!pattern.empty()) entry.Patterns.emplace_back(pattern);
      }
    }
    if (entry.Patterns.empty()) entry.Patterns.emplace_back("*");
    // A text ending in "|" leaves an empty last description with no patterns: not an entry.
    if (entry.Description.empty() && i + 1 >= parts.size()) break;
    if (entry.Description.empty()) entry.Description = std::string(Trim(parts[i + 1]));
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string QtNameFilter(const TFilterEntry& entry) {
  std::string result = entry.Description + " (";
  for (std::size_t i = 0; i < entry.Patterns.size(); ++i) {
    if (i > 0) result += ' ';
    // "*.*" means every file here, but to Qt it would ask for a dot in the name.
    result += entry.Patterns[i] == "*.*" ? std::string("*") : entry.Patterns[i];
  }
  result += ')';
  return result;
}

std::vector<std::string> QtNameFilters(std::string_view filterText) {
  std::vector<std::string> filters;
  for (const TFilterEntry& entry : ParseFilter(filterText)) filters.push_back(QtNameFilter(entry));
  return filters;
}

std::string FilterExtension(const TFilterEntry& entry) {
  if (entry.Patterns.empty()) return {};
  const std::string& pattern = entry.Patterns.front();
  if (pattern.size() < 3 || pattern.compare(0, 2, "*.") != 0) return {};
  const std::string extension = pattern.substr(1);
  if (extension.find_first_of("*?[]./\\", 1) != std::string::npos) return {};
  return extension;
}

std::string FilterExtension(std::string_view filterText, int filterIndex) {
  const std::vector<TFilterEntry> entries = ParseFilter(filterText);
  if (filterIndex < 1 || static_cast<std::size_t>(filterIndex) > entries.size()) return {};
  return FilterExtension(entries[static_cast<std::size_t>(filterIndex) - 1]);
}

std::string FileExtension(std::string_view fileName) {
  const std::size_t dot = ExtensionDot(fileName);
  return dot == std::string_view::npos ? std::string() : std::string(fileName.substr(dot));
}

std::string AppendExtension(std::string_view fileName, std::string_view extension) {
  std::string result(fileName);
  if (extension.empty() || NameStart(fileName) >= fileName.size()) return result;
  if (ExtensionDot(fileName) == std::string_view::npos) result += extension;
  return result;
}

std::string ReplaceExtension(std::string_view fileName, std::string_view extension) {
  const std::size_t dot = ExtensionDot(fileName);
  if (extension.empty() || dot == std::string_view::npos) return std::string(fileName);
  // The same extension in another case is the user's way of writing it.
  if (Lower(fileName.substr(dot)) == Lower(extension)) return std::string(fileName);
  return std::string(fileName.substr(0, dot)) + std::string(extension);
}

bool EntryMatchesExtension(const TFilterEntry& entry, std::string_view extension) {
  if (extension.size() < 2 || extension.front() != '.') return false;
  const std::string wanted = "*" + Lower(extension);
  return std::any_of(entry.Patterns.begin(), entry.Patterns.end(),
                     [&wanted](const std::string& pattern) { return Lower(pattern) == wanted; });
}

int FilterIndexForExtension(std::string_view filterText, std::string_view extension) {
  const std::vector<TFilterEntry> entries = ParseFilter(filterText);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (EntryMatchesExtension(entries[i], extension)) return static_cast<int>(i) + 1;
  }
  return 0;
}

std::string SizeText(std::int64_t bytes) {
  if (bytes > 1023) return std::to_string(bytes / 1024) + " Kb";
  return std::to_string(bytes) + " bytes";
}

std::int64_t ImageMemory(const TIOParams& params, int frames) {
  const std::int64_t width = std::max<std::int64_t>(params.Width, 0);
  const std::int64_t height = std::max<std::int64_t>(params.Height, 0);
  const std::int64_t depth =
      static_cast<std::int64_t>(params.SamplesPerPixel) * params.BitsPerSample == 1 ? 1 : 24;
  const std::int64_t rowBytes = (width * depth + 31) / 32 * 4;
  return rowBytes * height * std::max(frames, 0);
}

std::string ColourCountText(int samplesPerPixel, int bitsPerSample) {
  if (samplesPerPixel == 4 && bitsPerSample == 8) return "16777216";
  const std::int64_t bits = static_cast<std::int64_t>(samplesPerPixel) * bitsPerSample;
  // Damaged headers can claim anything; no real image has more than 4 x 16 bits per pixel.
  if (bits <= 0 || bits > 256) return bits <= 0 ? "1" : "2^" + std::to_string(bits);
  return PowerOfTwoText(static_cast<int>(bits));
}

std::array<std::string, 5> ImageInfoTexts(const TIOParams& params, int frames, std::int64_t fileSize) {
  std::array<std::string, 5> texts;
  if (params.FileType == ftUnknown) return texts;
  texts[0] = std::to_string(params.Width) + " x " + std::to_string(params.Height) + " pixel";
  if (frames > 1) texts[0] += " , " + std::to_string(frames) + " frames";
  texts[1] = std::to_string(params.DpiX) + " x " + std::to_string(params.DpiY) + " dpi";
  const std::int64_t bits = static_cast<std::int64_t>(params.SamplesPerPixel) * params.BitsPerSample;
  texts[2] = ColourCountText(params.SamplesPerPixel, params.BitsPerSample) + " colors (" +
             std::to_string(bits) + " bit)";
  texts[3] = "File: " + SizeText(fileSize) + "   Mem: " + SizeText(ImageMemory(params, frames));
  texts[4] = ParamsDescription(params);
  return texts;
}

}  // namespace veilora
