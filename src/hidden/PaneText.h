#pragma once

// How the hidden-text pane shows a byte string as text and turns its text back into bytes.
//
// The message is bytes (the carrier and the cipher work on bytes, and cipher output may hold any
// value), but the pane edits text. The mapping between them is reversible:
// - every valid UTF-8 sequence is shown as its character, and typed text is stored as UTF-8;
// - every byte that is not part of a valid sequence is shown as the private-use character
//   U+F700 + byte, which maps back to that byte. Only bytes 0x80..0xFF can be such bytes, so the
//   escapes are U+F780..U+F7FF;
// - a valid sequence that would itself decode to an escape, or to a character the text control
//   takes as a line break (U+2029, and U+FDD0/U+FDD1, which Qt's text document reserves for
//   frames), is shown byte by byte in the escaped form, so it comes back as the same bytes.
//
// The pane's own rules stay: its line breaks are CR LF, a lone CR or LF set into it becomes CR LF,
// and a text set into it ends at the first zero byte.

#include <string>
#include <string_view>

namespace veilora {

// The first of the characters that stand for single bytes (U+F700 + byte).
constexpr char16_t kPaneByteEscapeBase = 0xF700;

// The pane's rules for a byte string set into it: cut at the first zero byte, then every lone CR
// and every lone LF becomes CR LF (an existing CR LF stays one break).
std::string NormalisePaneBytes(std::string_view bytes);

// The text the pane shows for a byte string; the pane's rules (NormalisePaneBytes) apply first.
// Each CR LF is shown as one line break, '\n'.
std::u16string PaneTextFromBytes(std::string_view bytes);

// The bytes a pane text stands for. Line breaks ('\n', a lone '\r', CR LF, and U+2029, which a text
// document puts between its paragraphs) become CR LF; U+F780..U+F7FF become single bytes; every
// other character is written in UTF-8 (an unpaired surrogate as U+FFFD). The text ends at its
// first U+0000.
std::string PaneBytesFromText(std::u16string_view text);

}  // namespace veilora
