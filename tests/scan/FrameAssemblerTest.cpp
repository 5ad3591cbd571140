// The assembly of a scanner's frames into the picture a source hands over.

#include <gtest/gtest.h>

#include <cstring>

#include "scan/ScanImage.h"

namespace veilora::scan {
namespace {

TFrameFormat Format(TFrameKind kind, int depth, int pixels, int bytesPerLine, int lines, bool last = true) {
  TFrameFormat format;
  format.kind = kind;
  format.depth = depth;
  format.pixelsPerLine = pixels;
  format.bytesPerLine = bytesPerLine;
  format.lines = lines;
  format.lastFrame = last;
  return format;
}

// Feeds `data` one byte at a time: the row boundaries must not depend on how reads fall.
bool FeedBytewise(TFrameAssembler& assembler, const std::vector<std::uint8_t>& data) {
  for (std::uint8_t byte : data) {
    if (!assembler.Add(&byte, 1)) return false;
  }
  return true;
}

TEST(FrameAssembler, DropsTheBytesPastThePixelsOfEachRow) {
  TFrameAssembler assembler;
  ASSERT_TRUE(assembler.BeginFrame(Format(TFrameKind::Rgb, 8, 2, 8, 2)));
  ASSERT_TRUE(FeedBytewise(assembler, {1, 2, 3, 4, 5, 6, 99, 99, 7, 8, 9, 10, 11, 12, 99, 99}));
  assembler.EndFrame();
  TScanImage image;
  ASSERT_TRUE(assembler.Finish(image));
  EXPECT_EQ(image.bitsPerPixel, 24);
  EXPECT_EQ(image.data, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(FrameAssembler, TakesTheHighByteOfSixteenBitSamplesInHostOrder) {
  TFrameAssembler assembler;
  ASSERT_TRUE(assembler.BeginFrame(Format(TFrameKind::Grey, 16, 2, 4, 1)));
  const std::uint16_t samples[2] = {0x12ff, 0xab00};
  std::uint8_t bytes[4];
  std::memcpy(bytes, samples, 4);
  ASSERT_TRUE(assembler.Add(bytes, 4));
  TScanImage image;
  ASSERT_TRUE(assembler.Finish(image));
  EXPECT_EQ(image.data, (std::vector<std::uint8_t>{0x12, 0xab}));
}

TEST(FrameAssembler, TurnsLineArtSoThatZeroIsBlack) {
  TFrameAssembler assembler;
  // Ten pixels: 1 is black in the scanner's data.
  ASSERT_TRUE(assembler.BeginFrame(Format(TFrameKind::Grey, 1, 10, 3, 1)));
  const std::uint8_t row[3] = {0b10000001, 0b01000000, 0xff};
  ASSERT_TRUE(assembler.Add(row, 3));
  TScanImage image;
  ASSERT_TRUE(assembler.Finish(image));
  EXPECT_EQ(image.bitsPerPixel, 1);
  EXPECT_EQ(image.data, (std::vector<std::uint8_t>{0b01111110, 0b10000000}));
}

TEST(FrameAssembler, PutsThreePassFramesIntoTheirChannelsWithUnknownHeight) {
  TFrameAssembler assembler;
  const TFrameKind order[3] = {TFrameKind::Blue, TFrameKind::Red, TFrameKind::Green};
  for (int frame = 0; frame < 3; ++frame) {
    ASSERT_TRUE(assembler.BeginFrame(Format(order[frame], 8, 2, 2, -1, frame == 2)));
    const auto base = static_cast<std::uint8_t>(10 * (frame + 1));
    // Two whole rows and a part row, which is dropped.
    ASSERT_TRUE(FeedBytewise(assembler,
                             {base, static_cast<std::uint8_t>(base + 1), static_cast<std::uint8_t>(base + 2),
                              static_cast<std::uint8_t>(base + 3), 77}));
    assembler.EndFrame();
  }
  TScanImage image;
  ASSERT_TRUE(assembler.Finish(image));
  EXPECT_EQ(image.height, 2);
  // Red came second (20...), green third (30...), blue first (10...).
  EXPECT_EQ(image.data, (std::vector<std::uint8_t>{20, 30, 10, 21, 31, 11, 22, 32, 12, 23, 33, 13}));
}

struct BadFormat {
  const char* what;
  TFrameFormat format;
};

class FrameAssemblerRefuses : public ::testing::TestWithParam<BadFormat> {};

TEST_P(FrameAssemblerRefuses, AFormatItCannotTake) {
  TFrameAssembler assembler;
  EXPECT_FALSE(assembler.BeginFrame(GetParam().format));
  EXPECT_FALSE(assembler.Error().empty());
  TScanImage image;
  EXPECT_FALSE(assembler.Finish(image));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FrameAssemblerRefuses,
    ::testing::Values(BadFormat{"depth 4", Format(TFrameKind::Grey, 4, 8, 4, 1)},
                      BadFormat{"rows shorter than pixels", Format(TFrameKind::Rgb, 8, 10, 29, 1)},
                      BadFormat{"no pixels", Format(TFrameKind::Grey, 8, 0, 4, 1)},
                      BadFormat{"too wide", Format(TFrameKind::Grey, 8, 70000, 70000, 1)},
                      BadFormat{"too large", Format(TFrameKind::Rgb, 16, 60000, 360000, 60000)},
                      BadFormat{"zero lines", Format(TFrameKind::Grey, 8, 4, 4, 0)}),
    [](const ::testing::TestParamInfo<BadFormat>& row) {
      std::string name = row.param.what;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(FrameAssembler, RefusesFramesThatDoNotFitTogether) {
  TFrameAssembler assembler;
  ASSERT_TRUE(assembler.BeginFrame(Format(TFrameKind::Red, 8, 4, 4, 1, false)));
  EXPECT_FALSE(assembler.BeginFrame(Format(TFrameKind::Green, 8, 5, 5, 1, false)));
  TFrameAssembler grey;
  ASSERT_TRUE(grey.BeginFrame(Format(TFrameKind::Grey, 8, 4, 4, 1, false)));
  EXPECT_FALSE(grey.BeginFrame(Format(TFrameKind::Blue, 8, 4, 4, 1)));
}

TEST(FrameAssembler, StopsAHandScanThatOutgrowsTheLimit) {
  TFrameAssembler assembler;
  ASSERT_TRUE(assembler.BeginFrame(Format(TFrameKind::Grey, 8, 1, 1, -1)));
  std::vector<std::uint8_t> rows(kMaxScanSide + 1, 0);
  EXPECT_FALSE(assembler.Add(rows.data(), rows.size()));
  EXPECT_FALSE(assembler.Error().empty());
}

TEST(FrameAssembler, SaysWhenNoRowCame) {
  TFrameAssembler assembler;
  ASSERT_TRUE(assembler.BeginFrame(Format(TFrameKind::Grey, 8, 4, 4, -1)));
  const std::uint8_t part[3] = {1, 2, 3};
  ASSERT_TRUE(assembler.Add(part, 3));
  assembler.EndFrame();
  TScanImage image;
  EXPECT_FALSE(assembler.Finish(image));
}

}  // namespace
}  // namespace veilora::scan
