#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "io/Stream.h"
#include "support/Pillow.h"

using namespace veilora;
using veilora::test::ReadWholeFile;
using veilora::test::TTempDir;

namespace {

TEST(MemoryStream, ReadsShortAtTheEndAndWritesPastIt) {
  TMemoryStream stream(std::vector<std::uint8_t>{1, 2, 3});
  std::uint8_t buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, 8), 3u);
  EXPECT_EQ(stream.Position(), 3);
  EXPECT_EQ(stream.Read(buffer, 8), 0u);

  // Writing beyond the end leaves zero bytes in the gap.
  stream.Seek(5);
  const std::uint8_t nine = 9;
  stream.Write(&nine, 1);
  EXPECT_EQ(stream.Data(), (std::vector<std::uint8_t>{1, 2, 3, 0, 0, 9}));
  stream.Seek(100);
  EXPECT_EQ(stream.Remaining(), 0);
}

TEST(ByteCountStream, MeasuresWhatAWriterWouldWrite) {
  TByteCountStream stream;
  const std::uint8_t bytes[10] = {};
  stream.Write(bytes, 10);
  stream.Seek(2);
  stream.Write(bytes, 4);  // patching a header does not grow the file
  EXPECT_EQ(stream.Size(), 10);
  EXPECT_EQ(stream.Position(), 6);
  std::uint8_t out[4];
  EXPECT_EQ(stream.Read(out, 4), 0u);
}

TEST(FileStream, PatchesEarlierBytesThroughTheWriteBuffer) {
  TTempDir dir;
  const std::string name = dir.File("patched.bin");
  {
    TFileStream file(name, TFileStream::Mode::Create);
    const std::vector<std::uint8_t> body(300000, 7);  // more than the write buffer holds
    const std::uint8_t header[4] = {0, 0, 0, 0};
    file.Write(header, 4);
    file.Write(body.data(), body.size());
    file.Write(header, 2);
    const std::int64_t end = file.Position();
    file.Seek(0);
    const std::uint8_t patch[4] = {'A', 'B', 'C', 'D'};
    file.Write(patch, 4);
    file.Seek(end);
    EXPECT_EQ(file.Size(), 300006);
    file.Close();
  }
  const std::vector<std::uint8_t> bytes = ReadWholeFile(name);
  ASSERT_EQ(bytes.size(), 300006u);
  EXPECT_EQ(bytes[0], 'A');
  EXPECT_EQ(bytes[3], 'D');
  EXPECT_EQ(bytes[4], 7);
  EXPECT_EQ(bytes[300003], 7);
  EXPECT_EQ(bytes[300005], 0);

  TFileStream reader(name, TFileStream::Mode::Read);
  EXPECT_EQ(reader.Size(), 300006);
  reader.Seek(300000);
  std::uint8_t tail[16];
  EXPECT_EQ(reader.Read(tail, 16), 6u);
}

TEST(FileStream, NamesTheFileWhenItCannotBeOpened) {
  TTempDir dir;
  try {
    TFileStream file(dir.File("missing.bmp"), TFileStream::Mode::Read);
    FAIL() << "a missing file opened";
  } catch (const EStreamError& error) {
    EXPECT_NE(std::string(error.what()).find("missing.bmp"), std::string::npos);
  }
  EXPECT_THROW(TFileStream(dir.File("no/such/folder.bmp"), TFileStream::Mode::Create), EStreamError);
  // A folder is not a file to read.
  EXPECT_THROW(TFileStream(dir.File(""), TFileStream::Mode::Read), EStreamError);
}

}  // namespace
