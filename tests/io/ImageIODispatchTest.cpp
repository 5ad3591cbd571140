#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hidden/HiddenCarrier.h"
#include "io/FormatRegistry.h"
#include "io/ImageIO.h"
#include "io/Metafile.h"
#include "support/HeadlessView.h"
#include "support/LzwHooks.h"
#include "support/Pillow.h"
#include "support/Pixels.h"

using namespace veilora;
using veilora::test::HeadlessView;
using veilora::test::ReadWholeFile;
using veilora::test::TTempDir;
using veilora::test::WriteWholeFile;

namespace {

// A component attached to a headless view holding a small colour picture.
struct Document {
  Document() {
    view.Bitmap()->Allocate(7, 5, pf24bit);
    veilora::test::FillRandom(*view.Bitmap(), 11);
    io.SetAttachedView(&view);
  }
  HeadlessView view;
  TImageIO io;
};

// Adds a format for the length of a test and takes it out again.
struct ScopedFormat {
  explicit ScopedFormat(TFileFormatInfo info) { RegisterFileFormat(std::move(info)); }
  ~ScopedFormat() { FileFormats().pop_back(); }
};

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values, std::size_t size) {
  std::vector<std::uint8_t> bytes(size, 0);
  std::size_t i = 0;
  for (int value : values) bytes[i++] = static_cast<std::uint8_t>(value);
  return bytes;
}

TEST(FormatRegistry, ListsTheBuiltInFormatsInOrder) {
  ASSERT_GE(FileFormats().size(), 11u);
  EXPECT_EQ(FileFormats()[0].Description, "TIFF Bitmap");
  EXPECT_EQ(FileFormats()[10].Extensions, "TGA;TARGA;VDA;ICB;VST;PIX");
  EXPECT_EQ(FormatByExtension("tiff")->FileType, ftTIFF);
  EXPECT_EQ(FormatByExtension("Rle")->FileType, ftBMP);
  EXPECT_EQ(FormatByExtension("pix")->FileType, ftTGA);
  EXPECT_EQ(FormatByExtension("win"), nullptr);  // loads as TGA by name, but is not listed
  EXPECT_EQ(FormatByExtension(""), nullptr);
  EXPECT_EQ(FormatExtension(ftJPEG, 2), "JPE");
  EXPECT_EQ(FormatExtension(ftJPEG, 3), "");
  EXPECT_EQ(FormatExtension(99, 0), "");
  EXPECT_EQ(FormatExtensionCount(ftTGA), 6);
  EXPECT_EQ(FormatExtensionCount(99), 0);
  EXPECT_EQ(FormatByType(ftPNG)->Description, "Portable Network Graphics");
  EXPECT_FALSE(FormatByType(ftBMP)->ReadFunction);  // the built-in records hold no functions
}

TEST(FormatRegistry, CutsLongTextsOfAddedFormats) {
  TFileFormatInfo info;
  info.FileType = 40;
  info.Description = std::string(100, 'd');
  info.Extensions = "XYZ;" + std::string(100, 'E');
  ScopedFormat added(info);
  EXPECT_EQ(FormatByType(40)->Description.size(), 80u);
  EXPECT_EQ(FormatByExtension("xyz")->FileType, 40);
}

TEST(LowerExtension, KeepsTheDotAndIgnoresFolders) {
  EXPECT_EQ(LowerExtension("photo.JPG"), ".jpg");
  EXPECT_EQ(LowerExtension("/a.b/c"), "");
  EXPECT_EQ(LowerExtension("archive.tar.TiFf"), ".tiff");
}

struct ContentCase {
  const char* name;
  std::vector<std::uint8_t> data;
  std::int32_t expected;
};

TEST(FindStreamFormat, TestsSignaturesInOrderWithTheirSizeRules) {
  const std::vector<ContentCase> cases = {
      {"jpeg marker", Bytes({0xFF, 0xD8, 0xFF}, 3), ftJPEG},
      {"jpeg stream header", Bytes({'J', 'F', 'I', 'F'}, 13), ftJPEG},
      {"jpeg header too short", Bytes({'J', 'F', 'I', 'F'}, 12), ftUnknown},
      {"gif", Bytes({'G', 'I', 'F', '8', '9', 'a'}, 14), ftGIF},
      {"gif too short", Bytes({'G', 'I', 'F'}, 13), ftUnknown},
      {"pcx stream header", Bytes({'P', 'C', 'X', '2'}, 13), ftPCX},
      {"old pcx stream header", Bytes({'P', 'C', 'X'}, 5), ftPCX},
      {"bmp", Bytes({'B', 'M'}, 15), ftBMP},
      {"bmp too short", Bytes({'B', 'M'}, 14), ftUnknown},
      {"pcx", Bytes({0x0A, 5}, 129), ftPCX},
      {"pcx needs more than 128 bytes", Bytes({0x0A, 5}, 100), ftUnknown},
      {"pcx version above 5", Bytes({0x0A, 6}, 200), ftUnknown},
      {"tiff stream header", Bytes({'T', 'I', 'F', 'F'}, 13), ftTIFF},
      {"tiff little-endian", Bytes({'I', 'I', 42}, 9), ftTIFF},
      {"tiff big-endian", Bytes({'M', 'M', 0, 42}, 9), ftTIFF},
      {"png", Bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, 9), ftPNG},
      {"icon", Bytes({0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 4, 0, 40, 0, 0, 0, 22}, 23), ftICO},
      {"cursor", Bytes({0, 0, 2, 0, 1, 0, 16, 16, 0, 0, 1, 0, 4, 0, 40, 0, 0, 0, 22}, 23), ftCUR},
      {"icon entry offset inside the directory",
       Bytes({0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 4, 0, 40, 0, 0, 0, 10}, 23), ftUnknown},
      {"tga", Bytes({0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24}, 21), ftTGA},
      {"tga bad depth", Bytes({0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 12}, 21), ftUnknown},
      {"nothing", Bytes({1, 2, 3}, 40), ftUnknown},
      {"empty", {}, ftUnknown},
  };
  for (const ContentCase& c : cases) {
    TMemoryStream stream(c.data);
    stream.Seek(0);
    EXPECT_EQ(FindStreamFormat(stream), c.expected) << c.name;
    EXPECT_EQ(stream.Position(), 0) << c.name;
  }
}

TEST(FindStreamFormat, AsksAddedFormatsFirstAndKeepsThePosition) {
  TFileFormatInfo info;
  info.FileType = 41;
  info.Description = "Test";
  info.Extensions = "TST";
  info.ContentTest = [](TStream& stream) {
    std::uint8_t byte = 0;
    stream.Read(&byte, 1);  // moves the position; the caller must put it back
    return byte == 'B';
  };
  ScopedFormat added(info);
  TMemoryStream stream(Bytes({0, 'B', 'M'}, 40));
  stream.Seek(1);
  EXPECT_EQ(FindStreamFormat(stream), 41);
  EXPECT_EQ(stream.Position(), 1);
}

TEST(ParamsDescription, NamesTheFormatAndItsVariant) {
  TIOParams params;
  params.FileType = ftTIFF;
  params.TiffCompression = 5;
  EXPECT_EQ(ParamsDescription(params), "TIFF Bitmap (TIF) LZW");
  params.FileType = ftBMP;
  params.BmpVersion = 3;
  EXPECT_EQ(ParamsDescription(params), "Windows Bitmap (BMP) OS/2 v.2");
  params.FileType = ftJPEG;
  params.JpegColorSpace = 0;
  EXPECT_EQ(ParamsDescription(params), "JPEG Bitmap (JPG)");
  params.JpegColorSpace = 1;
  EXPECT_EQ(ParamsDescription(params), "JPEG Bitmap (JPG) Gray level");
  params.FileType = ftPCX;
  params.PcxCompression = 0;
  EXPECT_EQ(ParamsDescription(params), "PaintBrush (PCX) Uncompressed");
  params.FileType = ftTGA;
  EXPECT_EQ(ParamsDescription(params), "Targa Bitmap (TGA) Compressed");
  params.FileType = ftGIF;
  params.GifInterlaced = true;
  EXPECT_EQ(ParamsDescription(params), "CompuServe Bitmap (GIF) Interlaced");
  params.FileType = ftUnknown;
  EXPECT_EQ(ParamsDescription(params), "");
}

TEST(IOParams, StartsFromTheDefaultsAndTheAttachedView) {
  Document doc;
  doc.view.SetDpi(150, 75);
  TIOParams params(&doc.io);
  EXPECT_EQ(params.Width, 7);
  EXPECT_EQ(params.Height, 5);
  EXPECT_EQ(params.DpiX, 150);
  EXPECT_EQ(params.DpiY, 75);
  EXPECT_EQ(params.BitsPerSample, 8);
  EXPECT_EQ(params.SamplesPerPixel, 3);
  EXPECT_EQ(params.GifVersion, "GIF89a");
  EXPECT_EQ(params.IcoBackground, (TRGB{255, 255, 255}));
  EXPECT_TRUE(params.TgaCompressed);
  EXPECT_DOUBLE_EQ(params.TgaGamma, 2.2);
  EXPECT_EQ(params.TgaDate, Today());
  EXPECT_EQ(params.ColorMapCount, 0);

  TIOParams detached;
  EXPECT_EQ(detached.Width, 0);
  EXPECT_EQ(detached.DpiX, 0);
}

std::int64_t FakeGifDecoder(TStream&, std::int32_t, std::int32_t, bool, std::uint8_t*) {
  return 0;
}

TEST(IOParams, CopiesTheGlobalLzwHooksWhenReset) {
  const test::TScopedLzwHooks none(test::TScopedLzwHooks::kNone);
  TIOParams before;
  GlobalLzwHooks().gifDecompress = &FakeGifDecoder;
  TIOParams after;
  EXPECT_EQ(before.GifLzwDecompress, nullptr);
  EXPECT_EQ(after.GifLzwDecompress, &FakeGifDecoder);
}

TEST(IOParams, AssignCopiesEveryFieldButKeepsTheOwner) {
  Document doc;
  TIOParams source;
  source.TgaAuthor = "Ada";
  source.PcxVersion = 3;
  source.SetColorMap(2);
  source.ColorMap[1] = TRGB{1, 2, 3};
  doc.io.AssignParams(&source);
  EXPECT_EQ(doc.io.Params.TgaAuthor, "Ada");
  EXPECT_EQ(doc.io.Params.PcxVersion, 3);
  ASSERT_EQ(doc.io.Params.ColorMapCount, 2);
  EXPECT_EQ(doc.io.Params.ColorMap[1], (TRGB{1, 2, 3}));
  EXPECT_EQ(doc.io.Params.Owner(), &doc.io);

  TImageIO other;
  other.AssignParams(&doc.io);
  EXPECT_EQ(other.Params.TgaAuthor, "Ada");
  other.AssignParams(&doc.view);  // neither a component nor a record: ignored
  EXPECT_EQ(other.Params.TgaAuthor, "Ada");
}

// ---- loading and saving by name

TEST(ImageIOByName, FailsWithoutTouchingAnythingForExtensionsWithoutACodec) {
  TTempDir dir;
  Document doc;
  const std::vector<std::uint8_t> before = veilora::test::PixelBytesTopDown(*doc.view.Bitmap());
  doc.io.SaveToFile(dir.File("picture.jpe"));
  EXPECT_TRUE(doc.io.Aborting);
  EXPECT_FALSE(std::filesystem::exists(dir.File("picture.jpe")));
  doc.io.SaveToFile(dir.File("picture.pix"));
  EXPECT_TRUE(doc.io.Aborting);
  EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::path(dir.File(""))));

  WriteWholeFile(dir.File("picture.pix"), std::vector<std::uint8_t>(64, 0));
  doc.io.LoadFromFile(dir.File("picture.pix"));
  EXPECT_TRUE(doc.io.Aborting);
  EXPECT_EQ(doc.io.Params.FileType, ftUnknown);
  EXPECT_EQ(veilora::test::PixelBytesTopDown(*doc.view.Bitmap()), before);
}

TEST(ImageIOByName, ReportsAMissingFileAsAnException) {
  TTempDir dir;
  Document doc;
  EXPECT_THROW(doc.io.LoadFromFile(dir.File("gone.bmp")), EStreamError);
  EXPECT_THROW(doc.io.SaveToFile(dir.File("no/folder/x.bmp")), EStreamError);
}

TEST(ImageIOByName, DoesNothingWithoutABitmap) {
  TTempDir dir;
  TImageIO io;
  io.Aborting = true;
  io.LoadFromFile(dir.File("gone.bmp"));  // not even opened
  io.SaveToFile(dir.File("x.bmp"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.bmp")));
}

TEST(ImageIOByName, SavesAFreshDocumentAsA24BitBmpAndLoadsItBack) {
  TTempDir dir;
  Document doc;
  doc.view.Bitmap()->Allocate(5, 3, pf8bit);  // neither 24 nor 1 bit: converted before saving
  doc.io.SaveToFile(dir.File("fresh.BMP"));
  ASSERT_FALSE(doc.io.Aborting);
  EXPECT_EQ(doc.view.Bitmap()->PixelFormat(), pf24bit);
  const std::vector<std::uint8_t> file = ReadWholeFile(dir.File("fresh.BMP"));
  ASSERT_GT(file.size(), 30u);
  EXPECT_EQ(file[28], 24);  // bits per pixel

  Document other;
  other.io.LoadFromFile(dir.File("fresh.BMP"));
  EXPECT_FALSE(other.io.Aborting);
  EXPECT_EQ(other.io.Params.FileType, ftBMP);
  EXPECT_EQ(other.io.Params.FileName, dir.File("fresh.BMP"));
  EXPECT_EQ(other.view.Bitmap()->Width(), 5);
}

TEST(ImageIOByName, ReadsByExtensionEvenWhenTheContentSaysOtherwise) {
  TTempDir dir;
  Document doc;
  doc.io.SaveToFile(dir.File("real.bmp"));
  std::filesystem::copy_file(dir.File("real.bmp"), dir.File("lying.win"));
  Document other;
  other.io.LoadFromFile(dir.File("lying.win"));  // .win goes to the TGA reader
  EXPECT_EQ(other.io.Params.FileType, ftTGA);
  EXPECT_EQ(FindFileFormat(dir.File("lying.win"), false), ftBMP);
  EXPECT_EQ(FindFileFormat(dir.File("lying.win"), true), ftUnknown);
  EXPECT_EQ(FindFileFormat(dir.File("real.bmp"), true), ftBMP);
  EXPECT_EQ(FindFileFormat(dir.File("missing.bmp"), false), ftUnknown);
}

TEST(ImageIOByName, UsesTheReaderAndWriterOfAnAddedFormat) {
  TTempDir dir;
  TFileFormatInfo info;
  info.FileType = 42;
  info.Description = "Raw grey";
  info.Extensions = "RAWG";
  info.WriteFunction = [](TStream& s, TBitmap& bitmap, TIOParams&, const TProgressContext&) {
    const std::uint8_t size[2] = {static_cast<std::uint8_t>(bitmap.Width()),
                                  static_cast<std::uint8_t>(bitmap.Height())};
    s.Write(size, 2);
  };
  info.ReadFunction = [](TStream& s, TBitmap& bitmap, TIOParams& params, bool paramsOnly,
                         const TProgressContext&) {
    std::uint8_t size[2] = {};
    s.Read(size, 2);
    params.Width = size[0];
    params.Height = size[1];
    if (!paramsOnly) bitmap.Allocate(size[0], size[1], pf24bit);
  };
  ScopedFormat added(info);

  Document doc;
  doc.io.SaveToFile(dir.File("a.rawg"));
  EXPECT_FALSE(doc.io.Aborting);
  EXPECT_EQ(ReadWholeFile(dir.File("a.rawg")), (std::vector<std::uint8_t>{7, 5}));

  Document other;
  other.io.LoadFromFile(dir.File("a.rawg"));
  EXPECT_FALSE(other.io.Aborting);
  EXPECT_EQ(other.io.Params.FileType, 42);
  EXPECT_EQ(other.view.Bitmap()->Width(), 7);
}

// ---- a failed save keeps the old file

TEST(ImageIOSafeSave, AFailedSaveLeavesTheOldFileAndNoDebris) {
  TTempDir dir;
  const std::string name = dir.File("keep.pcx");
  WriteWholeFile(name, {'o', 'l', 'd'});
  ::chmod(name.c_str(), 0640);

  Document doc;
  // The handler stops the writer after its first progress report.
  doc.io.OnProgress = [&](TObject&, int) { doc.io.Aborting = true; };
  doc.io.SaveToFile(name);
  EXPECT_TRUE(doc.io.Aborting);
  EXPECT_EQ(ReadWholeFile(name), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.File(""))) ++files;
  EXPECT_EQ(files, 1u);

  // A save that succeeds replaces the file and keeps its permissions.
  doc.io.OnProgress = nullptr;
  doc.io.SaveToFile(name);
  EXPECT_FALSE(doc.io.Aborting);
  EXPECT_GT(ReadWholeFile(name).size(), 128u);
  struct stat info {};
  ASSERT_EQ(::stat(name.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(ImageIOSafeSave, AWriterExceptionLeavesTheOldFile) {
  TTempDir dir;
  TFileFormatInfo info;
  info.FileType = 43;
  info.Description = "Failing";
  info.Extensions = "FAIL";
  info.WriteFunction = [](TStream& s, TBitmap&, TIOParams&, const TProgressContext&) {
    s.Write("partial", 7);
    throw EStreamError("disk full");
  };
  ScopedFormat added(info);
  const std::string name = dir.File("keep.fail");
  WriteWholeFile(name, {'o', 'l', 'd'});
  Document doc;
  EXPECT_THROW(doc.io.SaveToFile(name), EStreamError);
  EXPECT_EQ(ReadWholeFile(name), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

// ---- streams

TEST(ImageIOStreams, PcxWithStreamHeadersEndsRightAfterTheData) {
  Document doc;
  doc.io.StreamHeaders = true;
  TMemoryStream stream;
  stream.Write("lead", 4);
  doc.io.SaveToStreamPCX(stream);
  ASSERT_FALSE(doc.io.Aborting);
  const std::int64_t end = stream.Position();
  stream.Write("tail", 4);
  const std::vector<std::uint8_t>& bytes = stream.Data();
  EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 8), "PCX2");
  EXPECT_EQ(GetLE32(bytes.data() + 12), static_cast<std::uint32_t>(end - 16));

  Document other;
  other.io.StreamHeaders = true;
  stream.Seek(4);
  other.io.LoadFromStreamPCX(stream);
  EXPECT_FALSE(other.io.Aborting);
  EXPECT_EQ(stream.Position(), end);
  EXPECT_EQ(veilora::test::PixelBytesTopDown(*other.view.Bitmap()),
            veilora::test::PixelBytesTopDown(*doc.view.Bitmap()));

  // Without the signature the load refuses.
  TMemoryStream plain(std::vector<std::uint8_t>(200, 0));
  other.io.LoadFromStreamPCX(plain);
  EXPECT_TRUE(other.io.Aborting);
}

TEST(ImageIOStreams, LoadsByContentAndParamsOnlyLeavesTheBitmap) {
  Document doc;
  TMemoryStream stream;
  doc.io.SaveToStreamBMP(stream);
  stream.Seek(0);

  Document other;
  other.io.Params.FileName = "old";
  other.io.LoadFromStream(stream);
  EXPECT_FALSE(other.io.Aborting);
  EXPECT_EQ(other.io.Params.FileType, ftBMP);
  EXPECT_EQ(other.io.Params.FileName, "");
  EXPECT_EQ(veilora::test::PixelBytesTopDown(*other.view.Bitmap()),
            veilora::test::PixelBytesTopDown(*doc.view.Bitmap()));

  TImageIO detached;  // no bitmap at all
  stream.Seek(0);
  detached.ParamsFromStream(stream);
  EXPECT_EQ(detached.Params.FileType, ftBMP);
  EXPECT_EQ(detached.Params.Width, 7);
  EXPECT_EQ(detached.Params.Height, 5);

  TMemoryStream junk(std::vector<std::uint8_t>(50, 0x55));
  other.io.LoadFromStream(junk);
  EXPECT_TRUE(other.io.Aborting);
}

// ---- metafiles

TEST(MetafileDrawSize, FollowsTheGivenSidesAndTheCap) {
  const TMetafileSize natural{1000, 4000};
  const auto size = [&](int w, int h) {
    const TMetafileSize s = MetafileDrawSize(w, h, natural);
    return std::pair{s.width, s.height};
  };
  EXPECT_EQ(size(-1, -1), (std::pair{700, 2800}));
  EXPECT_EQ(size(300, 200), (std::pair{300, 200}));
  EXPECT_EQ(size(-1, 800), (std::pair{200, 800}));
  EXPECT_EQ(size(500, -1), (std::pair{500, 2000}));
  EXPECT_EQ(size(5000, 100), (std::pair{2800, 56}));
  EXPECT_EQ(size(0, 0), (std::pair{0, 0}));
  EXPECT_EQ(MetafileDrawSize(-1, -1, {0, 10}).width, 0);
  EXPECT_EQ(MetafileDrawSize(-1, -1, {1, 100000}).width, 0);  // nothing left after the cap
}

class FakePicture : public TMetafilePicture {
 public:
  bool Enhanced() const override { return true; }
  int Width() const override { return width; }
  int Height() const override { return height; }
  void SetSize(int w, int h) override {
    width = w;
    height = h;
  }
  void Draw(TBitmap& target, int, int) override { target.FillRect(0, 0, 1, 1, clWhite); }
  int width = 1000;
  int height = 4000;
};

class FakePlayer : public TMetafilePlayer {
 public:
  std::unique_ptr<TMetafilePicture> Load(const std::string& name) override {
    if (name.find("bad") != std::string::npos) return nullptr;
    return std::make_unique<FakePicture>();
  }
};

TEST(LoadFromFileMetafile, FailsWithoutAPlayerAndChangesNothing) {
  ASSERT_EQ(MetafilePlayer(), nullptr);
  Document doc;
  const std::vector<std::uint8_t> before = veilora::test::PixelBytesTopDown(*doc.view.Bitmap());
  doc.io.LoadFromFile("drawing.wmf");
  EXPECT_TRUE(doc.io.Aborting);
  EXPECT_EQ(veilora::test::PixelBytesTopDown(*doc.view.Bitmap()), before);
}

TEST(LoadFromFileMetafile, DrawsOnePixelSmallerThanThePicture) {
  SetMetafilePlayer(std::make_unique<FakePlayer>());
  Document doc;
  doc.view.SetBackground(RGBToColor(10, 20, 30));
  doc.io.LoadFromFile("drawing.EMF");
  SetMetafilePlayer(nullptr);
  EXPECT_FALSE(doc.io.Aborting);
  const TBitmap& bitmap = *doc.view.Bitmap();
  EXPECT_EQ(bitmap.Width(), 699);
  EXPECT_EQ(bitmap.Height(), 2799);
  EXPECT_EQ(doc.io.Params.FileType, ftEMF);
  EXPECT_EQ(doc.io.Params.Width, 699);
  EXPECT_EQ(doc.io.Params.DpiX, DefaultResolution().dpiX);
  EXPECT_EQ(veilora::test::PixelAt(bitmap, 0, 0), (TRGB{255, 255, 255}));  // drawn
  EXPECT_EQ(veilora::test::PixelAt(bitmap, 5, 5), (TRGB{30, 20, 10}));     // background
}

TEST(LoadFromFileMetafile, ZeroSizeReturnsAndAnUnreadablePictureAborts) {
  SetMetafilePlayer(std::make_unique<FakePlayer>());
  Document doc;
  doc.io.LoadFromFileMetafile("drawing.wmf", 0, 10);
  EXPECT_FALSE(doc.io.Aborting);
  EXPECT_EQ(doc.view.Bitmap()->Width(), 7);
  doc.io.LoadFromFileMetafile("bad.wmf", -1, -1);
  EXPECT_TRUE(doc.io.Aborting);
  SetMetafilePlayer(nullptr);
}

}  // namespace
