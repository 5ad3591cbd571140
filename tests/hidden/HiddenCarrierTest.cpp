#include "hidden/HiddenCarrier.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/Errors.h"
#include "image/ImageProc.h"
#include "support/HeadlessView.h"
#include "support/Pixels.h"

using namespace veilora;
using veilora::test::HeadlessView;

namespace {

// The layout written out the long way, one carrier byte at a time, as an independent check of the
// optimised walk: carrier byte n is byte n % (3W-2) of row n / (3W-2).
class CarrierModel {
 public:
  explicit CarrierModel(TBitmap& bitmap)
      : bitmap_(bitmap), perRow_(bitmap.Width() > 0 ? 3 * bitmap.Width() - 2 : 0) {}

  long Count() const { return static_cast<long>(perRow_) * bitmap_.Height(); }
  std::uint8_t& At(long n) { return bitmap_.ScanLine(static_cast<int>(n / perRow_))[n % perRow_]; }

  void Write(const std::string& data) {
    std::vector<std::uint8_t> payload = {0, 0, 0, 0};
    const auto length = static_cast<std::uint32_t>(data.size());
    for (int shift = 0; shift < 32; shift += 8) payload.push_back(static_cast<std::uint8_t>(length >> shift));
    payload.insert(payload.end(), data.begin(), data.end());
    for (long n = 0; n < Count() && n < static_cast<long>(payload.size()) * 8; ++n) {
      const int bit = (payload[n / 8] >> (n % 8)) & 1;
      std::uint8_t& value = At(n);
      if ((value & 1) != bit) value = value == 255 ? 254 : value + 1;
    }
  }

 private:
  TBitmap& bitmap_;
  int perRow_;
};

std::string RandomText(std::size_t length, std::mt19937& random) {
  std::string text(length, '\0');
  for (char& c : text) c = static_cast<char>(random());
  return text;
}

// A 24-bit view whose pixel bytes are all `value`.
class CarrierTest : public ::testing::Test {
 protected:
  void MakeImage(int width, int height, std::uint8_t value = 100) {
    view.Bitmap()->Allocate(width, height, pf24bit);
    for (int y = 0; y < height; ++y) std::memset(view.Bitmap()->ScanLine(y), value, 3 * width);
    proc.SetAttachedView(&view);
  }

  // The least significant bits of carrier bytes first..last as a string of '0' and '1'.
  std::string CarrierBits(long first, long last) {
    CarrierModel model(*view.Bitmap());
    std::string bits;
    for (long n = first; n <= last; ++n) bits += (model.At(n) & 1) ? '1' : '0';
    return bits;
  }

  HeadlessView view;
  TImageProc proc;
};

}  // namespace

// ---------------------------------------------------------------- layout golden values

TEST_F(CarrierTest, AbcGoesLowBitFirstAfterTheHeader) {
  MakeImage(40, 2);  // 118 carrier bytes per row
  ASSERT_EQ(proc.WriteHiddenText("abc"), 3);
  EXPECT_EQ(CarrierBits(0, 31), std::string(32, '0'));
  EXPECT_EQ(CarrierBits(32, 63), "11" + std::string(30, '0'));  // L = 3
  EXPECT_EQ(CarrierBits(64, 71), "10000110");                   // 'a' = 0x61
  EXPECT_EQ(CarrierBits(72, 79), "01000110");                   // 'b' = 0x62
  EXPECT_EQ(CarrierBits(80, 87), "11000110");                   // 'c' = 0x63
  // Every carrier byte was even (100): a 1 made it 101, a 0 left it; from byte 88 on nothing moved.
  CarrierModel model(*view.Bitmap());
  for (long n = 0; n < 88; ++n) EXPECT_EQ(model.At(n), 100 + (model.At(n) & 1)) << n;
  for (long n = 88; n < model.Count(); ++n) EXPECT_EQ(model.At(n), 100) << n;
  EXPECT_EQ(view.Bitmap()->ScanLine(0)[118], 100);  // green and red of the last pixel
  EXPECT_EQ(view.Bitmap()->ScanLine(0)[119], 100);
}

TEST_F(CarrierTest, TenPixelRowsCarryTwentyEightBytesEach) {
  MakeImage(10, 6, 0);  // stride 32: 28 carrier bytes, 2 last-pixel bytes, 2 padding bytes
  const std::string ones(20, '\xff');
  proc.WriteHiddenText(ones);
  const TBitmap& image = *view.Bitmap();
  // Carrier bytes 0..27 are row 0's first 28 bytes; carrier 28 is row 1's first byte, so L = 20
  // (bits 00101 from bit 0) starts at row 1, byte 4.
  const std::vector<std::uint8_t> row1(image.ScanLine(1), image.ScanLine(1) + 9);
  EXPECT_EQ(row1, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 1, 0, 1}));
  for (int y = 0; y < image.Height(); ++y) {
    SCOPED_TRACE(y);
    EXPECT_EQ(image.ScanLine(y)[28], 0);
    EXPECT_EQ(image.ScanLine(y)[29], 0);
    EXPECT_EQ(image.ScanLine(y)[30], 0);
    EXPECT_EQ(image.ScanLine(y)[31], 0);
  }
  // The data bits (all 1) start at carrier 64 = row 2, byte 8, and fill the rows after it.
  EXPECT_EQ(image.ScanLine(2)[7], 0);
  for (int x = 8; x < 28; ++x) EXPECT_EQ(image.ScanLine(2)[x], 1) << x;
  for (int x = 0; x < 28; ++x) EXPECT_EQ(image.ScanLine(5)[x], 1) << x;
}

TEST_F(CarrierTest, BitForcingMovesEachByteByAtMostOne) {
  MakeImage(40, 1);
  CarrierModel model(*view.Bitmap());
  // Data byte 0xA6 asks carrier 64..71 for the bits 0,1,1,0,0,1,0,1.
  const std::uint8_t before[8] = {255, 254, 0, 1, 254, 255, 2, 3};
  const std::uint8_t after[8] = {
      254,             // 255 carrying 0 steps down: the one byte that moves downward
      255,             // 254 carrying 1
      1,               // 0 carrying 1
      2,               // 1 carrying 0 steps up, not down
      254, 255, 2, 3,  // already right: unchanged
  };
  for (int i = 0; i < 8; ++i) model.At(64 + i) = before[i];
  proc.WriteHiddenText("\xa6");
  for (int i = 0; i < 8; ++i) EXPECT_EQ(model.At(64 + i), after[i]) << i;
}

TEST_F(CarrierTest, NarrowImageSpreadsTheHeaderOverRows) {
  MakeImage(2, 40, 0);  // 4 carrier bytes per row: the header fills rows 0..15
  ASSERT_EQ(proc.WriteHiddenText("hi"), 2);
  EXPECT_EQ(view.Bitmap()->ScanLine(8)[0], 0);   // carrier 32: bit 0 of L = 2
  EXPECT_EQ(view.Bitmap()->ScanLine(8)[1], 1);   // carrier 33: bit 1
  EXPECT_EQ(view.Bitmap()->ScanLine(16)[0], 0);  // carrier 64: bit 0 of 'h' = 0x68
  EXPECT_EQ(view.Bitmap()->ScanLine(16)[3], 1);  // carrier 67: bit 3
  std::string text;
  EXPECT_EQ(proc.ReadHiddenText(text), 2);
  EXPECT_EQ(text, "hi");
  EXPECT_EQ(proc.ReadHiddenData(nullptr, 0), 2);
}

// ---------------------------------------------------------------- capacity

TEST(HiddenCapacity, ReportedSpaceAndRealFit) {
  struct Case {
    int width, height;
    std::int32_t space, fit;
  };
  const Case cases[] = {
      {1, 1, -8, 0},   // 3 / 8 - 8; no carrier bits worth a header
      {21, 1, -1, 0},  // 63 / 8 - 8
      {22, 1, 0, 0},   // 66 / 8 - 8
      {11, 2, 0, 0},   // the same 22 pixels in two rows
      {300, 300, 33742, 33667},
      {10, 6, 14, 13},  // 6 x 28 carrier bytes = 168 bits = 21 bytes
      {6000, 4000, 8999992, 8998992},
      {0, 5, -8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    HeadlessView view;
    view.Bitmap()->Allocate(c.width, c.height, pf24bit);
    TImageProc proc;
    proc.SetAttachedView(&view);
    EXPECT_EQ(proc.HiddenTextSpace(), c.space);
    EXPECT_EQ(proc.HiddenTextFit(), c.fit);
  }
}

// ---------------------------------------------------------------- reading back

TEST_F(CarrierTest, ReadsBackThroughEveryPath) {
  MakeImage(50, 30, 255);
  std::mt19937 random(7);
  const std::string text = RandomText(500, random);
  ASSERT_EQ(proc.WriteHiddenText(text), 500);

  EXPECT_EQ(proc.ReadHiddenData(nullptr, 0), 500);
  std::string data(500, '?');
  EXPECT_EQ(proc.ReadHiddenData(data.data(), 500), 500);
  EXPECT_EQ(data, text);
  std::string viaText = "old";
  EXPECT_EQ(proc.ReadHiddenText(viaText), 500);
  EXPECT_EQ(viaText, text);
}

TEST_F(CarrierTest, ShortCountCopiesOnlyThatManyAndStillReturnsTheLength) {
  MakeImage(50, 30);
  proc.WriteHiddenText("hello world");
  std::string buffer(11, '#');
  EXPECT_EQ(proc.ReadHiddenData(buffer.data(), 5), 11);
  EXPECT_EQ(buffer, "hello######");
  // No buffer: only the length, whatever count says.
  EXPECT_EQ(proc.ReadHiddenData(nullptr, 11), 11);
}

TEST_F(CarrierTest, EmptyTextStoresZeroLengthAndTouchesOnlyTheHeader) {
  MakeImage(40, 2, 255);
  ASSERT_EQ(proc.WriteHiddenText(""), 0);
  CarrierModel model(*view.Bitmap());
  for (long n = 0; n < 64; ++n) EXPECT_EQ(model.At(n), 254) << n;
  for (long n = 64; n < model.Count(); ++n) EXPECT_EQ(model.At(n), 255) << n;
  std::string text = "previous";
  EXPECT_EQ(proc.ReadHiddenText(text), 0);
  EXPECT_EQ(text, "");
}

TEST_F(CarrierTest, ShorterTextLeavesTheOldTailButReadsOnlyTheNewOne) {
  MakeImage(60, 20);
  proc.WriteHiddenText("a long secret message");
  proc.WriteHiddenText("short");
  std::string text;
  proc.ReadHiddenText(text);
  EXPECT_EQ(text, "short");
  // The old text's bits after the new payload are still there.
  std::string old(21, '\0');
  CarrierModel model(*view.Bitmap());
  for (long n = 64 + 8 * 5; n < 64 + 8 * 21; ++n) {
    old[(n - 64) / 8] = static_cast<char>(old[(n - 64) / 8] | ((model.At(n) & 1) << ((n - 64) % 8)));
  }
  EXPECT_EQ(old.substr(5), std::string("a long secret message").substr(5));
}

// ---------------------------------------------------------------- texts that do not fit

TEST_F(CarrierTest, TooLongTextIsCutButKeepsItsFullLength) {
  MakeImage(10, 6, 0);  // 168 carrier bytes: header + 13 data bytes
  std::mt19937 random(3);
  const std::string text = RandomText(14, random);
  ASSERT_EQ(proc.WriteHiddenText(text), 14);
  std::string read(14, '#');
  EXPECT_EQ(proc.ReadHiddenData(read.data(), 14), 14);
  EXPECT_EQ(read.substr(0, 13), text.substr(0, 13));
  EXPECT_EQ(read[13], '#') << "a byte with no carrier bits is never stored";
}

TEST_F(CarrierTest, PositionsOfACutTextNeverReadAsStaleMemory) {
  // 100 x 10 reports 367 bytes of space but only 364 fit: the last 3 of a 367-byte text are cut.
  MakeImage(100, 10);
  ASSERT_EQ(proc.HiddenTextSpace(), 367);
  ASSERT_EQ(proc.HiddenTextFit(), 364);
  const std::string text(367, 'x');
  proc.WriteHiddenText(text);
  std::string read;
  ASSERT_EQ(proc.ReadHiddenText(read), 367);
  EXPECT_EQ(read, std::string(364, 'x') + std::string(3, '\0'));
}

TEST_F(CarrierTest, ImageWithNoRoomForTheWholeHeaderKeepsWhatFits) {
  MakeImage(5, 5, 0);  // 65 carrier bytes: the header and one data bit
  proc.WriteHiddenText("\x01\xff");
  CarrierModel model(*view.Bitmap());
  EXPECT_EQ(model.At(33), 1);  // L = 2
  EXPECT_EQ(model.At(64), 1);  // bit 0 of the first data byte
  EXPECT_EQ(proc.ReadHiddenData(nullptr, 0), 2);
}

// ---------------------------------------------------------------- failures

TEST_F(CarrierTest, ReadHiddenTextRefusesWhatCannotBeAText) {
  struct Case {
    const char* name;
    int width, height;
    std::int32_t storedLength;
  };
  const Case cases[] = {
      {"fewer than 64 carrier bytes", 3, 3, 0},
      {"negative length", 40, 4, -1},
      {"length above the reported space", 40, 4, 53},  // space is 40*4*3/8 - 8 = 52
      {"length far above the space", 40, 4, 1 << 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeImage(c.width, c.height);
    // Write a header only: the data bytes are not needed to judge the length.
    proc.WriteHiddenData("", 0);
    CarrierModel model(*view.Bitmap());
    for (long n = 32; n < 64 && n < model.Count(); ++n) {
      model.At(n) = static_cast<std::uint8_t>((static_cast<std::uint32_t>(c.storedLength) >> (n - 32)) & 1);
    }
    std::string text = "kept";
    EXPECT_THROW(proc.ReadHiddenText(text), ENoHiddenData);
    EXPECT_EQ(text, "kept");
  }
}

TEST_F(CarrierTest, LengthUpToTheReportedSpaceIsAccepted) {
  MakeImage(40, 4);
  ASSERT_EQ(proc.HiddenTextSpace(), 52);
  proc.WriteHiddenText(std::string(52, 'q'));
  std::string text;
  EXPECT_EQ(proc.ReadHiddenText(text), 52);
}

TEST(HiddenTextOnOtherFormats, DoesNothingAndReadsEmpty) {
  for (TPixelFormat format : {pf1bit, pf8bit, pf32bit}) {
    SCOPED_TRACE(BitsPerPixel(format));
    HeadlessView view;
    view.Bitmap()->Allocate(64, 64, format);
    TImageProc proc;
    proc.SetAttachedView(&view);
    veilora::test::ImageChangeCounter changes(view);
    const auto before = veilora::test::PixelBytesTopDown(*view.Bitmap());

    EXPECT_EQ(proc.WriteHiddenText("text"), 0);
    EXPECT_EQ(proc.HiddenTextSpace(), 0);
    EXPECT_EQ(proc.HiddenTextFit(), 0);
    EXPECT_EQ(proc.ReadHiddenData(nullptr, 0), 0);
    std::string text = "pane";
    EXPECT_EQ(proc.ReadHiddenText(text), 0);
    EXPECT_EQ(text, "");
    EXPECT_FALSE(proc.CanUndo());
    EXPECT_EQ(changes.count, 0);
    EXPECT_EQ(veilora::test::PixelBytesTopDown(*view.Bitmap()), before);
  }
}

TEST(HiddenTextWithoutImage, EveryOperationGivesZero) {
  TImageProc proc;
  EXPECT_EQ(proc.WriteHiddenText("text"), 0);
  EXPECT_EQ(proc.HiddenTextSpace(), 0);
  EXPECT_EQ(proc.ReadHiddenData(nullptr, 0), 0);
}

TEST_F(CarrierTest, NegativeLengthChangesNothing) {
  MakeImage(40, 4);
  veilora::test::ImageChangeCounter changes(view);
  const auto before = veilora::test::PixelBytesTopDown(*view.Bitmap());
  EXPECT_EQ(proc.WriteHiddenData("abc", -1), 0);
  EXPECT_EQ(proc.WriteHiddenData("abc", -100), 0);
  EXPECT_EQ(proc.WriteHiddenData(nullptr, 5), 0);
  EXPECT_EQ(veilora::test::PixelBytesTopDown(*view.Bitmap()), before);
  EXPECT_FALSE(proc.CanUndo());
  EXPECT_EQ(changes.count, 0);
}

TEST_F(CarrierTest, WriteReportsTheChangeEvenWhenNothingFits) {
  MakeImage(4, 0);
  veilora::test::ImageChangeCounter changes(view);
  const int updatesBefore = view.updates;
  EXPECT_EQ(proc.WriteHiddenText("abc"), 3);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(view.updates, updatesBefore + 1);
}

TEST_F(CarrierTest, WriteTakesAnUndoCopyOnlyWithAutoUndo) {
  MakeImage(40, 4);
  proc.AutoUndo = false;
  proc.WriteHiddenText("one");
  EXPECT_FALSE(proc.CanUndo());
  proc.AutoUndo = true;
  proc.WriteHiddenText("two");
  ASSERT_TRUE(proc.CanUndo());
  proc.Undo();
  std::string text;
  proc.ReadHiddenText(text);
  EXPECT_EQ(text, "one");
}

// ---------------------------------------------------------------- the fast walk against the model

TEST(HiddenCarrierWalk, MatchesTheByteByByteLayoutOnRandomImages) {
  std::mt19937 random(2024);
  for (int round = 0; round < 300; ++round) {
    const int width = 1 + static_cast<int>(random() % 90);
    const int height = 1 + static_cast<int>(random() % 40);
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << width << " x " << height);
    TBitmap fast(width, height, pf24bit);
    veilora::test::FillRandom(fast, static_cast<std::uint32_t>(round));
    // Bytes near the ends of the range are where forcing turns around.
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < 3 * width; ++x) {
        if (random() % 4 == 0) fast.ScanLine(y)[x] = (random() % 2) ? 255 : 254;
      }
    }
    TBitmap model(width, height, pf24bit);
    std::memcpy(model.Bits(), fast.Bits(), fast.ImageBytes());

    const std::int64_t fit = HiddenPayloadFit(fast);
    const std::size_t length = static_cast<std::size_t>(random() % (fit + 20));  // sometimes cut
    const std::string text = RandomText(length, random);
    WriteHiddenPayload(fast, reinterpret_cast<const std::uint8_t*>(text.data()),
                       static_cast<std::int32_t>(length));
    CarrierModel(model).Write(text);
    ASSERT_EQ(std::memcmp(fast.Bits(), model.Bits(), fast.ImageBytes()), 0);

    if (CarrierBytes(fast) < 64) continue;  // no complete header to read back
    std::string read(length, '\0');
    ASSERT_EQ(ReadHiddenPayload(fast, reinterpret_cast<std::uint8_t*>(read.data()),
                                static_cast<std::int32_t>(length)),
              static_cast<std::int32_t>(length));
    const std::size_t stored = std::min<std::size_t>(length, static_cast<std::size_t>(fit));
    ASSERT_EQ(read.substr(0, stored), text.substr(0, stored));
  }
}
