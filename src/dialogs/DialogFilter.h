#pragma once

// The rules of the image file dialogs that need no window: the filter texts in their
// "Description|*.a;*.b|Description 2|*.c" form and their translation into Qt name filters, the
// extension a filter entry stands for, appending and replacing extensions in a file name, and the
// five information texts the open dialog shows for a file.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veilora {

class TIOParams;

// One entry of a filter text: what the user reads, and the name patterns it stands for.
struct TFilterEntry {
  std::string Description;
  std::vector<std::string> Patterns;  // "*.jpg", "*.jpeg", ...
  bool operator==(const TFilterEntry&) const = default;
};

// Splits a filter text into its entries. Descriptions are kept exactly; patterns are split at
// ";" and trimmed. An entry whose pattern part is missing or empty matches every file ("*").
// An empty text gives no entries.
std::vector<TFilterEntry> ParseFilter(std::string_view filterText);

// The Qt name filter of an entry: "Description (*.a *.b)". Qt takes the patterns from the last
// parenthesised group, so a description that itself ends in "(JPG;JPEG)" stays intact. "*.*"
// becomes "*", since it means every file.
std::string QtNameFilter(const TFilterEntry& entry);
std::vector<std::string> QtNameFilters(std::string_view filterText);

// The extension an entry stands for, with its dot, taken from its first pattern: ".jpg" for
// "*.jpg". Empty when the first pattern is not of the form "*.ext" with a plain extension
// ("*", "*.*", "*.jp?").
std::string FilterExtension(const TFilterEntry& entry);
// The same for the entry at a filter index counted from 1; empty for an index out of range.
std::string FilterExtension(std::string_view filterText, int filterIndex);

// The extension of a file name with its dot, as written ("" when the name part after the last
// path separator holds no dot). "photo.tar.gz" gives ".gz", "dir.d/photo" gives "".
std::string FileExtension(std::string_view fileName);
// The name with `extension` (with its dot) appended when the name has no extension of its own;
// otherwise, or when the name or extension is empty, the name unchanged.
std::string AppendExtension(std::string_view fileName, std::string_view extension);
// The name with its extension replaced by `extension`. A name without an extension, an empty
// name, an empty extension or the same extension in another case leaves the name unchanged.
std::string ReplaceExtension(std::string_view fileName, std::string_view extension);

// Whether one of the entry's patterns is "*" followed by the extension (dot included), compared
// without regard to case.
bool EntryMatchesExtension(const TFilterEntry& entry, std::string_view extension);
// The index (from 1) of the first entry with a pattern matching the extension (dot included,
// compared without regard to case) as "*.ext" does; 0 when none does.
int FilterIndexForExtension(std::string_view filterText, std::string_view extension);

// A byte count as the dialog shows it: whole kilobytes ("175 Kb") above 1023 bytes, else bytes
// ("512 bytes").
std::string SizeText(std::int64_t bytes);
// The memory the frames of an image need as device-independent bitmaps: rows padded to 32 bits,
// 1 bit per pixel for two-colour images and 24 otherwise. Negative sizes count as 0.
std::int64_t ImageMemory(const TIOParams& params, int frames);
// The number of colours of S samples of B bits, in decimal: 2^(S x B), except 16777216 for four
// 8-bit samples (CMYK shows as true colour).
std::string ColourCountText(int samplesPerPixel, int bitsPerSample);

// The five information texts of the open dialog, first to fifth: size in pixels (with the frame
// count when above 1), resolution, colours, file and memory size, format description. All empty
// when the record's FileType is 0 (no file, or not a recognised image).
std::array<std::string, 5> ImageInfoTexts(const TIOParams& params, int frames, std::int64_t fileSize);

}  // namespace veilora
