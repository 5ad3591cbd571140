#pragma once

// The process-wide list of file formats: the built-in ones, and any a program adds with its own
// reader, writer and content test. Lookups go through the list in order.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/Codec.h"

namespace veilora {

struct TFileFormatInfo {
  std::int32_t FileType = 0;
  std::string Description;  // at most 80 characters
  std::string Extensions;   // upper case, without dots, separated by ";" (at most 80 characters)
  TReadFunction ReadFunction;
  TWriteFunction WriteFunction;
  TContentTestFunction ContentTest;
};

// The list, built with the eleven built-in formats on first use.
std::vector<TFileFormatInfo>& FileFormats();
// Appends a format; texts longer than 80 characters are cut.
void RegisterFileFormat(TFileFormatInfo info);

// The first record with this code, or null.
const TFileFormatInfo* FormatByType(std::int32_t fileType);
// The first record listing this extension (without dot, any case), or null.
const TFileFormatInfo* FormatByExtension(std::string_view extension);
// The index-th extension of the code's list, from 0; empty past the end or for an unknown code.
std::string FormatExtension(std::int32_t fileType, int index);
int FormatExtensionCount(std::int32_t fileType);

}  // namespace veilora
