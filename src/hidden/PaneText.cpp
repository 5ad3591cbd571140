#include "hidden/PaneText.h"

#include <cstdint>

namespace veilora {
namespace {

constexpr char16_t kParagraphSeparator = 0x2029;
// Qt's text document marks the start and end of frames with these two non-characters and turns
// them into block breaks when they are inserted as text.
constexpr char32_t kDocumentFrameStart = 0xFDD0;
constexpr char32_t kDocumentFrameEnd = 0xFDD1;
constexpr char32_t kReplacementCharacter = 0xFFFD;

// True for characters that must not reach the pane as themselves: the byte escapes (they would
// read back as one byte each) and the characters the text control turns into line breaks.
bool MustShowAsBytes(char32_t codePoint) {
  return (codePoint >= kPaneByteEscapeBase + 0x80 && codePoint <= kPaneByteEscapeBase + 0xFF) ||
         codePoint == kParagraphSeparator || codePoint == kDocumentFrameStart ||
         codePoint == kDocumentFrameEnd;
}

bool IsContinuation(std::uint8_t byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes the well-formed UTF-8 sequence starting at `at` (RFC 3629: shortest form only, no
// surrogates, nothing above U+10FFFF). Returns its length, or 0 when the bytes there are not one.
std::size_t DecodeUtf8(std::string_view bytes, std::size_t at, char32_t& codePoint) {
  const auto byteAt = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  const std::uint8_t lead = byteAt(at);
  std::size_t length = 0;
  std::uint8_t secondLow = 0x80;
  std::uint8_t secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) secondLow = 0xA0;   // shorter forms would be overlong
    if (lead == 0xED) secondHigh = 0x9F;  // U+D800..U+DFFF are surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    if (lead == 0xF0) secondLow = 0x90;
    if (lead == 0xF4) secondHigh = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (at + length > bytes.size()) return 0;
  const std::uint8_t second = byteAt(at + 1);
  if (second < secondLow || second > secondHigh) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const std::uint8_t next = byteAt(at + i);
    if (!IsContinuation(next)) return 0;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  return length;
}

void AppendUtf16(std::u16string& text, char32_t codePoint) {
  if (codePoint < 0x10000) {
    text.push_back(static_cast<char16_t>(codePoint));
  } else {
    codePoint -= 0x10000;
    text.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    text.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
  }
}

void AppendUtf8(std::string& bytes, char32_t codePoint) {
  const auto put = [&](std::uint32_t value) { bytes.push_back(static_cast<char>(value)); };
  if (codePoint < 0x80) {
    put(codePoint);
  } else if (codePoint < 0x800) {
    put(0xC0 | (codePoint >> 6));
    put(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    put(0xE0 | (codePoint >> 12));
    put(0x80 | ((codePoint >> 6) & 0x3F));
    put(0x80 | (codePoint & 0x3F));
  } else {
    put(0xF0 | (codePoint >> 18));
    put(0x80 | ((codePoint >> 12) & 0x3F));
    put(0x80 | ((codePoint >> 6) & 0x3F));
    put(0x80 | (codePoint & 0x3F));
  }
}

}  // namespace

std::string NormalisePaneBytes(std::string_view bytes) {
  const std::size_t zero = bytes.find('\0');
  if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
  std::string result;
  result.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char byte = bytes[i];
    if (byte == '\r') {
      result += "\r\n";
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else if (byte == '\n') {
      result += "\r\n";
    } else {
      result.push_back(byte);
    }
  }
  return result;
}

std::u16string PaneTextFromBytes(std::string_view rawBytes) {
  const std::string bytes = NormalisePaneBytes(rawBytes);
  std::u16string text;
  text.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto byte = static_cast<std::uint8_t>(bytes[at]);
    if (byte == '\r') {  // always followed by LF after the pane's rules
      text.push_back(u'\n');
      at += 2;
    } else if (byte < 0x80) {
      text.push_back(byte);
      ++at;
    } else {
      char32_t codePoint = 0;
      const std::size_t length = DecodeUtf8(bytes, at, codePoint);
      if (length != 0 && !MustShowAsBytes(codePoint)) {
        AppendUtf16(text, codePoint);
        at += length;
      } else {
        // An invalid byte is escaped alone and decoding starts again at the next byte; a valid
        // sequence that must not be shown as itself is escaped byte by byte.
        const std::size_t count = length != 0 ? length : 1;
        for (std::size_t i = 0; i < count; ++i) {
          text.push_back(
              static_cast<char16_t>(kPaneByteEscapeBase + static_cast<std::uint8_t>(bytes[at + i])));
        }
        at += count;
      }
    }
  }
  return text;
}

std::string PaneBytesFromText(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit == 0) break;
    if (unit == u'\r') {
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      bytes += "\r\n";
    } else if (unit == u'\n' || unit == kParagraphSeparator) {
      bytes += "\r\n";
    } else if (unit >= kPaneByteEscapeBase + 0x80 && unit <= kPaneByteEscapeBase + 0xFF) {
      bytes.push_back(static_cast<char>(unit - kPaneByteEscapeBase));
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      const char32_t codePoint = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                 (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      AppendUtf8(bytes, codePoint);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(bytes, kReplacementCharacter);
    } else {
      AppendUtf8(bytes, unit);
    }
  }
  return bytes;
}

}  // namespace veilora
