// Acquisition end to end through the TWAIN layers: the client, Veilora's manager, its SANE source
// and the SANE test backend, against scanimage's scan of the same configuration.

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <thread>

#include "io/ImageIO.h"
#include "scan/SaneDevice.h"
#include "scan/SaneTestBackend.h"
#include "scan/Twain.h"
#include "scan/TwainDsm.h"
#include "scan/TwainHost.h"
#include "scan/TwainLink.h"
#include "support/HeadlessView.h"

namespace veilora {
namespace {

using namespace twain;
using test::Pnm;

class Acquire : public test::SaneTestBackend {
 protected:
  void SetUp() override {
    SaneTestBackend::SetUp();
    io.SetAttachedView(&view);
    view.Bitmap()->Allocate(3, 2, pf24bit);
    view.Bitmap()->Fill(clBlack);
    io.TwainParams.TwainShowUI = false;
  }
  void TearDown() override {
    scan::SetTwainHost(nullptr);
    SetTwainManagerLoader(nullptr);
    SaneTestBackend::TearDown();
  }

  // Every pixel of the acquired bitmap against the reference; counts the differing samples.
  static int Differences(const TBitmap& bitmap, const Pnm& reference) {
    EXPECT_EQ(bitmap.Width(), reference.width);
    EXPECT_EQ(bitmap.Height(), reference.height);
    if (bitmap.Width() != reference.width || bitmap.Height() != reference.height) return -1;
    int differences = 0;
    for (int y = 0; y < bitmap.Height(); ++y) {
      const std::uint8_t* row = bitmap.ScanLine(y);
      for (int x = 0; x < bitmap.Width(); ++x) {
        if (bitmap.PixelFormat() == pf1bit) {
          const int white = (row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
          differences += white != reference.Sample(x, y, 0);
          continue;
        }
        for (int c = 0; c < 3; ++c) {
          // The picture's bytes are blue, green, red.
          const int expected = reference.Sample(x, y, reference.kind == '6' ? 2 - c : 0);
          differences += row[x * 3 + c] != expected;
        }
      }
    }
    return differences;
  }

  test::HeadlessView view;
  TImageIO io;
};

struct ScanCase {
  const char* name;
  std::map<std::string, std::string> config;
  const char* scanimageOptions;
  bool memoryTransfer;
  TPixelFormat format;
  int bitsPerSample;
  int samplesPerPixel;
};

class AcquireMatchesScanimage : public Acquire, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(AcquireMatchesScanimage, PixelForPixel) {
  const ScanCase& scan = GetParam();
  Configure(scan.config);
  const Pnm reference = ScanImage(scan.scanimageOptions);
  ASSERT_NE(reference.kind, 0) << "scanimage gave no picture";
  io.TwainParams.TwainMemoryTransfer = scan.memoryTransfer;
  ASSERT_TRUE(io.Acquire()) << "return code " << io.TwainResult.ReturnCode << " condition "
                            << io.TwainResult.ConditionCode;
  EXPECT_EQ(view.Bitmap()->PixelFormat(), scan.format);
  EXPECT_EQ(Differences(*view.Bitmap(), reference), 0);
  EXPECT_EQ(io.Params.BitsPerSample, scan.bitsPerSample);
  EXPECT_EQ(io.Params.SamplesPerPixel, scan.samplesPerPixel);
  EXPECT_EQ(view.DpiX(), 50);
  EXPECT_EQ(view.DpiY(), 50);
}

const std::map<std::string, std::string> kColour = {{"mode", "Color"}};
const std::map<std::string, std::string> kGrey = {{"mode", "Gray"}};
const std::map<std::string, std::string> kLineart = {
    {"mode", "Gray"}, {"depth", "1"}, {"test-picture", "Grid"}};

INSTANTIATE_TEST_SUITE_P(
    TestBackend, AcquireMatchesScanimage,
    ::testing::Values(
        ScanCase{"ColourNative", kColour, "", false, pf24bit, 8, 3},
        ScanCase{"ColourMemory", kColour, "", true, pf24bit, 8, 3},
        ScanCase{"GreyNative", kGrey, "", false, pf24bit, 8, 1},
        ScanCase{"GreyMemory", kGrey, "", true, pf24bit, 8, 1},
        ScanCase{"LineartNative", kLineart, "", false, pf1bit, 1, 1},
        ScanCase{"LineartMemory", kLineart, "", true, pf1bit, 1, 1},
        // Three frames, one colour each, in the order green, blue, red.
        ScanCase{"ThreePass", {{"three-pass", "true"}, {"three-pass-order", "GBR"}}, "", true, pf24bit, 8, 3},
        // The height is known only when the data end.
        ScanCase{"HandScanner", {{"mode", "Gray"}, {"hand-scanner", "true"}}, "", false, pf24bit, 8, 1},
        ScanCase{"HandScannerColour", {{"hand-scanner", "true"}}, "", true, pf24bit, 8, 3},
        // Rows wider than their pixels.
        ScanCase{"PixelsLostPerLine", {{"ppl-loss", "7"}}, "", true, pf24bit, 8, 3},
        // 16-bit samples in the host's byte order; the picture keeps the high byte.
        ScanCase{"SixteenBitColour", {{"depth", "16"}}, "", false, pf24bit, 8, 3},
        ScanCase{"SixteenBitGrey", {{"mode", "Gray"}, {"depth", "16"}}, "", true, pf24bit, 8, 1},
        // Data arriving a few bytes per read.
        ScanCase{"SmallReads", {{"read-limit", "true"}, {"read-limit-size", "37"}}, "", true, pf24bit, 8, 3}),
    [](const ::testing::TestParamInfo<ScanCase>& row) { return std::string(row.param.name); });

TEST_F(Acquire, NegotiatesPixelTypeResolutionAndFrame) {
  Configure({{"mode", "Gray"}});
  io.TwainParams.TwainPixelType.SetCurrent(TWPT_RGB);
  io.TwainParams.TwainResolutionX.SetCurrent(72);
  io.TwainParams.TwainResolutionY.SetCurrent(72);
  // Inches: 10 mm from the left, 20 mm from the top, 40 x 30 mm.
  io.TwainParams.TwainFrame = {10 / 25.4, 20 / 25.4, 50 / 25.4, 50 / 25.4};
  const Pnm reference = ScanImage("--mode Color --resolution 72 -l 10 -t 20 -x 40 -y 30");
  ASSERT_TRUE(io.Acquire());
  EXPECT_EQ(view.Bitmap()->PixelFormat(), pf24bit);
  EXPECT_EQ(Differences(*view.Bitmap(), reference), 0);
  EXPECT_EQ(view.DpiX(), 72);
  EXPECT_NEAR(io.TwainParams.TwainPhysicalWidth, 200 / 25.4, 1e-3);
}

struct FailureCase {
  const char* status;
  TW_UINT16 returnCode;
  TW_UINT16 conditionCode;
  bool hasMessage;
};

class AcquireFailure : public Acquire, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(AcquireFailure, MapsTheScannersStatusAndKeepsTheImage) {
  Configure({{"read-status-code", std::string("\"") + GetParam().status + "\""}});
  EXPECT_FALSE(io.Acquire());
  EXPECT_EQ(io.TwainResult.ReturnCode, GetParam().returnCode);
  EXPECT_EQ(io.TwainResult.ConditionCode, GetParam().conditionCode);
  EXPECT_EQ(std::string(TwainFailureText(io.TwainResult)).empty(), !GetParam().hasMessage);
  EXPECT_EQ(view.Bitmap()->Width(), 3);
  EXPECT_EQ(view.Bitmap()->Height(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    TestBackend, AcquireFailure,
    ::testing::Values(FailureCase{"SANE_STATUS_JAMMED", TWRC_FAILURE, TWCC_PAPERJAM, true},
                      FailureCase{"SANE_STATUS_NO_DOCS", TWRC_FAILURE, TWCC_NOMEDIA, true},
                      FailureCase{"SANE_STATUS_CANCELLED", TWRC_CANCEL, TWCC_SUCCESS, false},
                      FailureCase{"SANE_STATUS_IO_ERROR", TWRC_FAILURE, TWCC_OPERATIONERROR, true},
                      FailureCase{"SANE_STATUS_COVER_OPEN", TWRC_FAILURE, TWCC_CHECKDEVICEONLINE, true}),
    [](const ::testing::TestParamInfo<FailureCase>& row) {
      return std::string(row.param.status).substr(12);
    });

// Backends ask for asynchronous cancellation through the dynamic linker, as dlsym does here; a
// reader cancelled inside the C library would leave its locks held and hang the program.
TEST(ScanThreads, StayDeferredWhateverABackendAsks) {
  using SetCancelType = int (*)(int, int*);
  const auto setCancelType =
      reinterpret_cast<SetCancelType>(dlsym(RTLD_DEFAULT, "pthread_setcanceltype"));
  ASSERT_NE(setCancelType, nullptr);
  int typeAfter = -1;
  std::thread([&] {
    int before = 0;
    setCancelType(PTHREAD_CANCEL_ASYNCHRONOUS, &before);
    setCancelType(PTHREAD_CANCEL_DEFERRED, &typeAfter);
  }).join();
  EXPECT_EQ(typeAfter, PTHREAD_CANCEL_DEFERRED);
}

TEST(ScanStatus, GivesEachFailureAMessage) {
  EXPECT_NE(scan::StatusFromSane(6).message.find("jammed"), std::string::npos);
  EXPECT_NE(scan::StatusFromSane(7).message.find("empty"), std::string::npos);
  EXPECT_TRUE(scan::StatusFromSane(0).message.empty());
}

// The headless host, except that the scan's progress indicator cancels after some rows.
class CancellingHost : public scan::TTwainHost {
 public:
  int SelectSource(const std::vector<scan::TSourceChoice>&, int, void*) override { return 1; }
  std::unique_ptr<scan::TSourceWindow> ShowSourceDialog(scan::TSaneSource&, void*) override {
    return nullptr;
  }
  bool ScanProgress(std::int32_t rows, std::int32_t) override {
    maxRows = std::max(maxRows.load(), rows);
    return rows < 10;
  }
  void ProcessEvents(int) override { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }
  void Wake() override {}
  void EnableWindow(void*, bool enable) override { enabled = enable; }
  void FocusWindow(void*) override {}
  std::atomic<std::int32_t> maxRows{0};
  bool enabled = true;
};

TEST_F(Acquire, CancelDuringAScanStopsReadingAndChangesNothing) {
  Configure({{"read-limit", "true"},
             {"read-limit-size", "200"},
             {"read-delay", "true"},
             {"read-delay-duration", "1000"}});
  CancellingHost host;
  scan::SetTwainHost(&host);
  EXPECT_FALSE(io.Acquire(&view));
  EXPECT_EQ(io.TwainResult.ReturnCode, TWRC_CANCEL);
  EXPECT_GE(host.maxRows.load(), 10);
  EXPECT_LT(host.maxRows.load(), 100);
  EXPECT_TRUE(host.enabled) << "the window stays disabled";
  EXPECT_EQ(view.Bitmap()->Width(), 3);
  // The device was cancelled: the next scan starts clean.
  scan::SetTwainHost(nullptr);
  Configure({});
  EXPECT_TRUE(io.Acquire());
  EXPECT_EQ(view.Bitmap()->Width(), ScanImage().width);
}

TEST_F(Acquire, ChoosesTheSourceByNameAndThroughTheManagersDialog) {
  Configure({{"number_of_devices", "3"}});
  TTwainParams& params = io.TwainParams;
  ASSERT_TRUE(params.SelectSourceByName("TEST:2"));
  EXPECT_EQ(params.TwainSourceIndex, 2);
  EXPECT_EQ(params.TwainSourceList.size(), 3u);
  EXPECT_EQ(params.SourceName(0), "test:0");
  EXPECT_EQ(params.SourceName(7), "");
  EXPECT_FALSE(params.SelectSourceByName("epson"));
  CancellingHost host;  // answers the manager's dialog with the second source
  scan::SetTwainHost(&host);
  EXPECT_TRUE(io.SelectAcquireSource());
  EXPECT_EQ(params.TwainSourceIndex, 1);
}

TEST_F(Acquire, WithoutAManagerOrASourceNothingChanges) {
  SetTwainManagerLoader([]() -> DSMENTRYPROC { return nullptr; });
  EXPECT_FALSE(io.Acquire());
  EXPECT_EQ(io.TwainResult.ReturnCode, TWRC_FAILURE);
  EXPECT_FALSE(io.SelectAcquireSource());
  SetTwainManagerLoader(nullptr);
  // No scanner at all: the manager has no source to open.
  std::ofstream(folder_ / "dll.conf") << "\n";
  EXPECT_FALSE(io.Acquire());
  EXPECT_EQ(io.TwainResult.ConditionCode, TWCC_NODS);
  EXPECT_EQ(view.Bitmap()->Width(), 3);
}

// The manager and the source refuse triplets out of their state, as the standard's state table
// says, and hand capabilities in the containers it defines.
class SourceProtocol : public test::SaneTestBackend {
 protected:
  void SetUp() override {
    SaneTestBackend::SetUp();
    ASSERT_EQ(DSM_Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window), TWRC_SUCCESS);
    SetStr32(source.ProductName, "test:0");
    ASSERT_EQ(DSM_Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
  }
  void TearDown() override {
    DSM_Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
    DSM_Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window);
    SaneTestBackend::TearDown();
  }
  TW_UINT16 Call(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 message, void* data) {
    return DSM_Entry(&app, &source, group, dat, message, data);
  }
  TW_UINT16 Condition() {
    TW_STATUS status{};
    Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return status.ConditionCode;
  }

  TW_IDENTITY app{};
  TW_IDENTITY source{};
  void* window = nullptr;
};

TEST_F(SourceProtocol, RefusesTriplesOutOfState) {
  EXPECT_EQ(source.ProductName, std::string("test:0"));
  // Copied out: a packed field cannot bind to the reference a check takes.
  const TW_UINT32 groups = source.SupportedGroups;
  EXPECT_EQ(groups, DG_CONTROL | DG_IMAGE);
  TW_IMAGEINFO info{};
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_SEQERROR);
  TW_USERINTERFACE ui{0, 0, nullptr};
  EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_FAILURE);
  EXPECT_EQ(DSM_Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window), TWRC_FAILURE)
      << "the manager closed under an open source";
  EXPECT_EQ(DSM_Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_FAILURE);
  TW_CAPABILITY unknown{0x7777, TWON_ONEVALUE, nullptr};
  EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &unknown), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_CAPUNSUPPORTED);
}

TEST_F(SourceProtocol, OffersTheDevicesResolutionRangeAndTakesAValueInIt) {
  TW_CAPABILITY capability{ICAP_XRESOLUTION, TWON_ONEVALUE, nullptr};
  ASSERT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability), TWRC_SUCCESS);
  ASSERT_EQ(capability.ConType, TWON_RANGE);
  const auto* range = static_cast<const TW_RANGE*>(HandleLock(capability.hContainer));
  const TW_UINT16 itemType = range->ItemType;
  EXPECT_EQ(itemType, TWTY_FIX32);
  EXPECT_DOUBLE_EQ(FromFix32(Fix32FromBits(range->MinValue)), 1.0);
  EXPECT_DOUBLE_EQ(FromFix32(Fix32FromBits(range->MaxValue)), 1200.0);
  EXPECT_DOUBLE_EQ(FromFix32(Fix32FromBits(range->CurrentValue)), 50.0);
  HandleFree(capability.hContainer);

  // A container cut short is refused, not read past its end.
  TW_CAPABILITY shortOne{ICAP_PIXELTYPE, TWON_ENUMERATION, HandleAlloc(10)};
  EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &shortOne), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_BADVALUE);
  HandleFree(shortOne.hContainer);
}

TEST(Fix32, RoundsToTheNearestSixtyFifthThousandth) {
  EXPECT_EQ(ToFix32(2.2).Whole, 2);
  EXPECT_EQ(ToFix32(2.2).Frac, 13107);
  EXPECT_EQ(ToFix32(-1.5).Whole, -2);
  EXPECT_EQ(ToFix32(-1.5).Frac, 32768);
  EXPECT_DOUBLE_EQ(FromFix32(Fix32FromBits(Fix32Bits(ToFix32(300.25)))), 300.25);
}

}  // namespace
}  // namespace veilora
