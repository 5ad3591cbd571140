#include "io/ImageIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>

#include "image/Bitmap.h"
#include "image/Display.h"
#include "io/BmpCodec.h"
#include "io/FormatRegistry.h"
#include "io/GifCodec.h"
#include "io/JpegCodec.h"
#include "io/Metafile.h"
#include "io/PcxCodec.h"
#include "io/PngCodec.h"
#include "io/TgaCodec.h"
#include "io/TiffCodec.h"

namespace veilora {

namespace {

constexpr std::size_t kStreamHeaderBytes = 12;

// The text of a header's first bytes as far as the first zero byte, as the stream-header and
// signature checks compare it.
std::string LeadingText(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count && bytes[i] != 0; ++i) text += static_cast<char>(bytes[i]);
  return text;
}

std::string WithoutDot(const std::string& extension) {
  return extension.empty() ? extension : extension.substr(1);
}

bool OneOf(const std::string& value, std::initializer_list<const char*> candidates) {
  return std::any_of(candidates.begin(), candidates.end(),
                     [&](const char* candidate) { return value == candidate; });
}

// The code a load by extension goes to; ftUnknown for extensions left to the registry.
std::int32_t LoadTypeForExtension(const std::string& ext) {
  if (OneOf(ext, {".jpg", ".jpeg", ".jpe"})) return ftJPEG;
  if (ext == ".png") return ftPNG;
  if (OneOf(ext, {".tif", ".tiff"})) return ftTIFF;
  if (ext == ".pcx") return ftPCX;
  if (ext == ".gif") return ftGIF;
  if (OneOf(ext, {".wmf", ".emf"})) return ftWMF;
  if (OneOf(ext, {".bmp", ".dib", ".rle"})) return ftBMP;
  if (ext == ".cur") return ftCUR;
  if (ext == ".ico") return ftICO;
  if (OneOf(ext, {".tga", ".targa", ".vda", ".icb", ".vst", ".win"})) return ftTGA;
  return ftUnknown;
}

}  // namespace

std::int32_t SaveTypeForExtension(const std::string& ext) {
  if (OneOf(ext, {".jpg", ".jpeg"})) return ftJPEG;
  if (ext == ".pcx") return ftPCX;
  if (ext == ".gif") return ftGIF;
  if (OneOf(ext, {".tif", ".tiff"})) return ftTIFF;
  if (ext == ".png") return ftPNG;
  if (ext == ".bmp") return ftBMP;
  if (ext == ".tga") return ftTGA;
  return ftUnknown;
}

namespace {

// Creates `fileName` through a temporary file in the same folder, renamed over the target only
// after `write` succeeded and the data reached the disk. `write` returns false when the save was
// abandoned; the temporary file is then removed, as it is when anything throws.
template <typename Write>
void WriteFileSafely(const std::string& fileName, Write write) {
  std::filesystem::path target(fileName);
  std::error_code error;
  // Saving through a symbolic link replaces the file it points to, not the link.
  if (std::filesystem::is_symlink(target, error)) {
    target = std::filesystem::weakly_canonical(target, error);
    if (error) target = fileName;
  }
  // Renaming would replace a file the user may not write to; refuse as opening it would.
  if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) {
    throw EStreamError("Cannot create file \"" + fileName + "\": " + std::strerror(errno));
  }
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string hiddenName = ".";
  hiddenName += target.filename().string();
  hiddenName += ".XXXXXX";
  std::string temporary = (folder / hiddenName).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    throw EStreamError("Cannot create file \"" + fileName + "\": " + std::strerror(errno));
  }
  ::close(fd);
  const auto discard = [&] { ::unlink(temporary.c_str()); };
  try {
    TFileStream out(temporary, TFileStream::Mode::Create);
    if (!write(out)) {
      discard();
      return;
    }
    out.Close();
  } catch (...) {
    discard();
    throw;
  }
  // The new file gets the old one's permissions, or those a newly created file would get.
  struct stat existing {};
  mode_t mode;
  if (::stat(target.c_str(), &existing) == 0) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::chmod(temporary.c_str(), mode);
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int saved = errno;
    discard();
    throw EStreamError("Cannot create file \"" + fileName + "\": " + std::strerror(saved));
  }
}

}  // namespace

std::string LowerExtension(std::string_view fileName) {
  const std::size_t slash = fileName.find_last_of('/');
  const std::size_t dot = fileName.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  std::string ext(fileName.substr(dot));
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

void TImageIO::AssignParams(const TObject* source) {
  if (const auto* io = dynamic_cast<const TImageIO*>(source)) {
    Params.Assign(io->Params);
  } else if (const auto* params = dynamic_cast<const TIOParams*>(source)) {
    Params.Assign(*params);
  }
}

void TImageIO::FillWithBackground() {
  if (TBitmap* bitmap = Bitmap()) bitmap->Fill(Background());
}

// ---- codecs

TImageIO::Reader TImageIO::ReaderFor(std::int32_t fileType, std::int64_t byteCount, TBitmap& target) {
  TProgressContext progress = ProgressContext();
  switch (fileType) {
    case ftBMP:
      return [this, &target, progress, byteCount](TStream& s, bool paramsOnly) {
        BmpReadStream(s, target, Params, paramsOnly, progress, byteCount);
      };
    case ftICO:
      return [this, &target, progress](TStream& s, bool paramsOnly) {
        IcoReadStream(s, target, Params, progress, paramsOnly);
      };
    case ftCUR:
      return [this, &target, progress](TStream& s, bool paramsOnly) {
        CurReadStream(s, target, Params, progress, paramsOnly);
      };
    case ftPCX:
      return [this, &target, progress, byteCount](TStream& s, bool paramsOnly) {
        PcxReadStream(s, target, Params, paramsOnly, progress, byteCount);
      };
    case ftTGA:
      return [this, &target, progress](TStream& s, bool paramsOnly) {
        TgaReadStream(s, target, Params, paramsOnly, progress);
      };
    case ftPNG:
      return [this, &target, progress](TStream& s, bool paramsOnly) {
        PngReadStream(s, target, Params, paramsOnly, progress);
      };
    case ftJPEG:
      return [this, &target, progress](TStream& s, bool paramsOnly) {
        JpegReadStream(s, target, Params, paramsOnly, progress);
      };
    case ftGIF:
      return [this, &target, progress](TStream& s, bool paramsOnly) {
        GifReadStream(s, target, Params, paramsOnly, progress, nullptr);
      };
    case ftTIFF:
      return [this, &target, progress](TStream& s, bool paramsOnly) {
        TiffReadStream(s, target, Params, paramsOnly, progress, nullptr);
      };
    default: break;
  }
  if (const TFileFormatInfo* info = FormatByType(fileType); info != nullptr && info->ReadFunction) {
    TReadFunction read = info->ReadFunction;
    return [this, &target, progress, read](TStream& s, bool paramsOnly) {
      read(s, target, Params, paramsOnly, progress);
    };
  }
  return nullptr;
}

TImageIO::Writer TImageIO::WriterFor(std::int32_t fileType) {
  const TProgressContext progress = ProgressContext();
  switch (fileType) {
    case ftBMP: return [this, progress](TStream& s) { BmpWriteStream(s, *Bitmap(), Params, progress); };
    case ftPCX: return [this, progress](TStream& s) { PcxWriteStream(s, *Bitmap(), Params, progress); };
    case ftTGA: return [this, progress](TStream& s) { TgaWriteStream(s, *Bitmap(), Params, progress); };
    case ftPNG: return [this, progress](TStream& s) { PngWriteStream(s, *Bitmap(), Params, progress); };
    case ftJPEG: return [this, progress](TStream& s) { JpegWriteStream(s, *Bitmap(), Params, progress); };
    case ftGIF: return [this, progress](TStream& s) { GifWriteStream(s, *Bitmap(), Params, progress); };
    case ftTIFF:
      return [this, progress](TStream& s) { TiffWriteStream(s, false, *Bitmap(), Params, progress); };
    default: return nullptr;
  }
}

// ---- the load frame

bool TImageIO::BeginOperation() {
  Aborting = false;
  Damage.clear();
  return Bitmap() != nullptr;
}

void TImageIO::RunReader(const Reader& reader, TStream& stream) {
  try {
    reader(stream, false);
  } catch (const EImageTooLarge&) {
    Aborting = true;
  } catch (const std::bad_alloc&) {
    Aborting = true;
  }
}

void TImageIO::SetViewResolution() {
  if (TBaseView* view = AttachedView()) view->SetDpi(Params.DpiX, Params.DpiY);
}

void TImageIO::FinishLoad(const std::string& fileName, std::int32_t fileType, bool setViewResolution) {
  // The depth fields now describe the file just read, not a choice of the user's.
  Params.SaveColoursChosen = false;
  Params.FileName = fileName;
  Params.FileType = fileType;
  if (setViewResolution) SetViewResolution();
  // A PNG names the colour its transparency was flattened onto; the view shows it around the image.
  if (fileType == ftPNG) {
    SetBackground(RGBToColor(Params.PngBackground.r, Params.PngBackground.g, Params.PngBackground.b));
  }
  // A GIF shows its transparent colour, else its screen background, around the frame.
  if (fileType == ftGIF) {
    const TRGB& colour = Params.GifHasTransparent ? Params.GifTransparentColor : Params.GifBackground;
    SetBackground(RGBToColor(colour.r, colour.g, colour.b));
  }
  ReportImageChange();
}

void TImageIO::LoadFile(const std::string& fileName, std::int32_t fileType) {
  if (!BeginOperation()) return;
  TFileStream file(fileName, TFileStream::Mode::Read);
  // A PNG without its own background colour, and a BMP with an alpha channel, are flattened onto
  // the component's.
  if (fileType == ftPNG || fileType == ftBMP) Params.PngBackground = ColorToPixel(Background());
  const Reader reader = ReaderFor(fileType, file.Size(), *Bitmap());
  if (!reader) {
    Aborting = true;
    return;
  }
  RunReader(reader, file);
  FinishLoad(fileName, fileType, true);
}

void TImageIO::LoadStream(TStream& stream, std::int32_t fileType, bool setViewResolution) {
  if (!BeginOperation()) return;
  // A BMP in a stream is bounded by its own file-size field.
  const Reader reader = ReaderFor(fileType, fileType == ftBMP ? 0 : stream.Remaining(), *Bitmap());
  if (!reader) {
    Aborting = true;
    return;
  }
  RunReader(reader, stream);
  FinishLoad({}, fileType, setViewResolution);
}

void TImageIO::LoadWithRegistry(const std::string& extension, const std::string& fileName) {
  Params.FileName.clear();
  Params.FileType = ftUnknown;
  const TFileFormatInfo* info = FormatByExtension(WithoutDot(extension));
  if (info == nullptr || !info->ReadFunction) {
    Aborting = true;
    return;
  }
  LoadFile(fileName, info->FileType);
}

void TImageIO::LoadFromFile(const std::string& fileName) {
  if (Bitmap() == nullptr) return;
  const std::string ext = LowerExtension(fileName);
  const std::int32_t code = LoadTypeForExtension(ext);
  if (code == ftWMF) {
    LoadFromFileMetafile(fileName, -1, -1);
  } else if (code == ftPCX) {
    LoadFromFilePCX(fileName);
  } else if (code != ftUnknown) {
    LoadFile(fileName, code);
  } else {
    Aborting = false;
    LoadWithRegistry(ext, fileName);
  }
}

void TImageIO::LoadFromFileBMP(const std::string& fileName) {
  LoadFile(fileName, ftBMP);
}
void TImageIO::LoadFromFileICO(const std::string& fileName) {
  LoadFile(fileName, ftICO);
}
void TImageIO::LoadFromFileCUR(const std::string& fileName) {
  LoadFile(fileName, ftCUR);
}
void TImageIO::LoadFromFileTGA(const std::string& fileName) {
  LoadFile(fileName, ftTGA);
}
void TImageIO::LoadFromFilePNG(const std::string& fileName) {
  LoadFile(fileName, ftPNG);
}
void TImageIO::LoadFromFileJPEG(const std::string& fileName) {
  LoadFile(fileName, ftJPEG);
}
void TImageIO::LoadFromFileGIF(const std::string& fileName) {
  LoadFile(fileName, ftGIF);
}
void TImageIO::LoadFromFileTIFF(const std::string& fileName) {
  LoadFile(fileName, ftTIFF);
}

void TImageIO::LoadFromFilePCX(const std::string& fileName) {
  if (!BeginOperation()) return;
  TFileStream file(fileName, TFileStream::Mode::Read);
  Params.FileName = fileName;
  Params.FileType = ftPCX;
  RunReader(ReaderFor(ftPCX, file.Size(), *Bitmap()), file);
  FinishLoad(fileName, ftPCX, true);
}

void TImageIO::LoadFromStreamBMP(TStream& stream) {
  LoadStream(stream, ftBMP, false);
}
void TImageIO::LoadFromStreamICO(TStream& stream) {
  LoadStream(stream, ftICO, false);
}
void TImageIO::LoadFromStreamCUR(TStream& stream) {
  LoadStream(stream, ftCUR, false);
}
void TImageIO::LoadFromStreamTGA(TStream& stream) {
  LoadStream(stream, ftTGA, false);
}
void TImageIO::LoadFromStreamPNG(TStream& stream) {
  LoadStream(stream, ftPNG, true);
}
void TImageIO::LoadFromStreamGIF(TStream& stream) {
  LoadStream(stream, ftGIF, false);
}

void TImageIO::LoadFromStreamTIFF(TStream& stream) {
  if (!BeginOperation()) return;
  // With StreamHeaders the "TIFF" header must be there; without, one that is there is still read
  // (loading by content recognises it) rather than taken for the byte-order mark.
  const std::int64_t start = stream.Position();
  std::array<std::uint8_t, kStreamHeaderBytes> header{};
  std::int64_t endOfData = -1;
  if (stream.ReadExact(header.data(), header.size()) && LeadingText(header.data(), 5) == "TIFF") {
    endOfData = start + static_cast<std::int64_t>(kStreamHeaderBytes) + GetLE32(header.data() + 8);
  } else if (StreamHeaders) {
    Aborting = true;
    return;
  } else {
    stream.Seek(start);
  }
  RunReader(ReaderFor(ftTIFF, stream.Remaining(), *Bitmap()), stream);
  if (endOfData >= 0) stream.Seek(endOfData);
  FinishLoad({}, ftTIFF, true);
}

void TImageIO::LoadFromStreamJPEG(TStream& stream) {
  if (!BeginOperation()) return;
  // Whatever StreamHeaders says: data that starts with a "JFIF" header is bounded by its length.
  const std::int64_t start = stream.Position();
  std::array<std::uint8_t, kStreamHeaderBytes> header{};
  std::int64_t endOfData = -1;
  if (stream.ReadExact(header.data(), header.size()) && LeadingText(header.data(), 5) == "JFIF") {
    endOfData = start + static_cast<std::int64_t>(kStreamHeaderBytes) + GetLE32(header.data() + 8);
  } else {
    stream.Seek(start);
  }
  RunReader(ReaderFor(ftJPEG, stream.Remaining(), *Bitmap()), stream);
  if (endOfData >= 0) stream.Seek(endOfData);
  FinishLoad({}, ftJPEG, true);
}

void TImageIO::LoadFromStreamPCX(TStream& stream) {
  if (!BeginOperation()) return;
  std::int64_t byteCount = stream.Remaining();
  std::int64_t endOfData = -1;
  if (StreamHeaders) {
    const std::int64_t start = stream.Position();
    std::array<std::uint8_t, kStreamHeaderBytes> header{};
    if (!stream.ReadExact(header.data(), header.size()) ||
        LeadingText(header.data(), 5).rfind("PCX", 0) != 0) {
      Aborting = true;
      return;
    }
    if (LeadingText(header.data(), 5) == "PCX2") {
      byteCount = GetLE32(header.data() + 8);
      endOfData = start + static_cast<std::int64_t>(kStreamHeaderBytes) + byteCount;
    } else {
      // The older form: a 4-byte signature, the data running to the end of the stream.
      stream.Seek(start + 4);
      byteCount = stream.Remaining();
    }
  }
  RunReader(ReaderFor(ftPCX, byteCount, *Bitmap()), stream);
  if (endOfData >= 0) stream.Seek(endOfData);
  FinishLoad({}, ftPCX, true);
}

void TImageIO::LoadFromStream(TStream& stream) {
  const std::int64_t start = stream.Position();
  const std::int32_t code = FindStreamFormat(stream);
  stream.Seek(start);
  switch (code) {
    case ftBMP: LoadFromStreamBMP(stream); return;
    case ftICO: LoadFromStreamICO(stream); return;
    case ftCUR: LoadFromStreamCUR(stream); return;
    case ftPCX: LoadFromStreamPCX(stream); return;
    case ftTGA: LoadFromStreamTGA(stream); return;
    case ftPNG: LoadFromStreamPNG(stream); return;
    case ftJPEG: LoadFromStreamJPEG(stream); return;
    case ftTIFF: LoadFromStreamTIFF(stream); return;
    case ftGIF: LoadFromStreamGIF(stream); return;
    default: break;
  }
  Aborting = false;
  Params.FileName.clear();
  Params.FileType = ftUnknown;
  const TFileFormatInfo* info = FormatByType(code);
  if (code == ftUnknown || info == nullptr || !info->ReadFunction) {
    Aborting = true;
    return;
  }
  LoadStream(stream, code, true);
}

void TImageIO::LoadFromFileMetafile(const std::string& fileName, int width, int height) {
  Aborting = false;
  if (width == 0 || height == 0) return;
  TBitmap* bitmap = Bitmap();
  TMetafilePlayer* player = MetafilePlayer();
  if (bitmap == nullptr || player == nullptr) {
    Aborting = true;
    return;
  }
  std::unique_ptr<TMetafilePicture> picture = player->Load(fileName);
  if (!picture) {
    Aborting = true;
    return;
  }
  const TMetafileSize size = MetafileDrawSize(width, height, {picture->Width(), picture->Height()});
  if (size.width == 0 || size.height == 0) {
    Aborting = true;
    return;
  }
  picture->SetSize(size.width, size.height);
  // One pixel less than the picture each way: the picture's frame is inclusive of its far edge.
  PrepareBitmap(*bitmap, 1, 1, pf24bit);
  bitmap->SetSize(size.width - 1, size.height - 1);

  Params.FileName = fileName;
  Params.FileType = picture->Enhanced() ? ftEMF : ftWMF;
  Params.BitsPerSample = 8;
  Params.SamplesPerPixel = 3;
  Params.Width = bitmap->Width();
  Params.Height = bitmap->Height();
  Params.DpiX = DefaultResolution().dpiX;
  Params.DpiY = DefaultResolution().dpiY;
  Params.FreeColorMap();
  SetViewResolution();

  FillWithBackground();
  picture->Draw(*bitmap, 0, 0);
  ReportImageChange();
}

// ---- the save frame

void TImageIO::ConvertForSaving() {
  TBitmap* bitmap = Bitmap();
  if (bitmap->PixelFormat() == pf24bit || bitmap->PixelFormat() == pf1bit) return;
  TBitmap converted;
  ConvertTo24Bit(*bitmap, converted);
  bitmap->Swap(converted);
}

void TImageIO::SaveFile(const std::string& fileName, const Writer& writer) {
  if (!BeginOperation()) return;
  if (!writer) {
    Aborting = true;
    return;
  }
  ConvertForSaving();
  WriteFileSafely(fileName, [&](TStream& out) {
    try {
      writer(out);
    } catch (const EImageTooLarge&) {
      Aborting = true;
    } catch (const std::bad_alloc&) {
      Aborting = true;
    }
    return !Aborting;
  });
}

void TImageIO::SaveToFile(const std::string& fileName) {
  if (Bitmap() == nullptr) return;
  const std::string ext = LowerExtension(fileName);
  const std::int32_t code = SaveTypeForExtension(ext);
  if (code != ftUnknown) {
    SaveFile(fileName, WriterFor(code));
    return;
  }
  const TFileFormatInfo* info = FormatByExtension(WithoutDot(ext));
  if (info == nullptr || !info->WriteFunction) {
    Aborting = true;
    return;
  }
  const TWriteFunction write = info->WriteFunction;
  const TProgressContext progress = ProgressContext();
  SaveFile(fileName, [this, write, progress](TStream& s) { write(s, *Bitmap(), Params, progress); });
}

void TImageIO::SaveToFileBMP(const std::string& fileName) {
  SaveFile(fileName, WriterFor(ftBMP));
}
void TImageIO::SaveToFilePCX(const std::string& fileName) {
  SaveFile(fileName, WriterFor(ftPCX));
}
void TImageIO::SaveToFileTGA(const std::string& fileName) {
  SaveFile(fileName, WriterFor(ftTGA));
}
void TImageIO::SaveToFilePNG(const std::string& fileName) {
  SaveFile(fileName, WriterFor(ftPNG));
}
void TImageIO::SaveToFileJPEG(const std::string& fileName) {
  SaveFile(fileName, WriterFor(ftJPEG));
}
void TImageIO::SaveToFileGIF(const std::string& fileName) {
  SaveFile(fileName, WriterFor(ftGIF));
}
void TImageIO::SaveToFileTIFF(const std::string& fileName) {
  SaveFile(fileName, WriterFor(ftTIFF));
}

void TImageIO::SaveStream(TStream& stream, std::int32_t fileType) {
  if (!BeginOperation()) return;
  const Writer writer = WriterFor(fileType);
  if (!writer) {
    Aborting = true;
    return;
  }
  ConvertForSaving();
  const char* signature = fileType == ftPCX    ? "PCX2"
                          : fileType == ftJPEG ? "JFIF"
                          : fileType == ftTIFF ? "TIFF"
                                               : nullptr;
  const bool withHeader = StreamHeaders && signature != nullptr;
  const std::int64_t start = stream.Position();
  if (withHeader) {
    const std::array<std::uint8_t, kStreamHeaderBytes> placeholder{};
    stream.Write(placeholder.data(), placeholder.size());
  }
  try {
    writer(stream);
  } catch (const EImageTooLarge&) {
    Aborting = true;
  } catch (const std::bad_alloc&) {
    Aborting = true;
  }
  // The PCX header is filled in only for a complete image; the others always.
  if (withHeader && (fileType != ftPCX || !Aborting)) {
    const std::int64_t end = stream.Position();
    std::array<std::uint8_t, kStreamHeaderBytes> header{};
    std::copy_n(signature, 4, header.begin());
    PutLE32(header.data() + 8,
            static_cast<std::uint32_t>(end - start - static_cast<std::int64_t>(kStreamHeaderBytes)));
    stream.Seek(start);
    stream.Write(header.data(), header.size());
    stream.Seek(end);
  }
}

void TImageIO::SaveToStreamBMP(TStream& stream) {
  SaveStream(stream, ftBMP);
}
void TImageIO::SaveToStreamPCX(TStream& stream) {
  SaveStream(stream, ftPCX);
}
void TImageIO::SaveToStreamTGA(TStream& stream) {
  SaveStream(stream, ftTGA);
}
void TImageIO::SaveToStreamPNG(TStream& stream) {
  SaveStream(stream, ftPNG);
}
void TImageIO::SaveToStreamJPEG(TStream& stream) {
  SaveStream(stream, ftJPEG);
}
void TImageIO::SaveToStreamGIF(TStream& stream) {
  SaveStream(stream, ftGIF);
}
void TImageIO::SaveToStreamTIFF(TStream& stream) {
  SaveStream(stream, ftTIFF);
}

// ---- parameters only

void TImageIO::ParamsFromFile(const std::string& fileName) {
  Aborting = false;
  Params.FileType = FindFileFormat(fileName, true);
  try {
    TFileStream file(fileName, TFileStream::Mode::Read);
    TBitmap scratch;  // readers take a bitmap even when they only fill the parameters
    const Reader reader = ReaderFor(Params.FileType, file.Size(), Bitmap() != nullptr ? *Bitmap() : scratch);
    if (reader) reader(file, true);
  } catch (const std::exception&) {
    Params.FileType = ftUnknown;
  }
  Params.FileName = fileName;
}

void TImageIO::ParamsFromStream(TStream& stream) {
  Aborting = false;
  const std::int64_t start = stream.Position();
  Params.FileType = FindStreamFormat(stream);
  stream.Seek(start);
  try {
    TBitmap scratch;
    const Reader reader =
        ReaderFor(Params.FileType, stream.Remaining(), Bitmap() != nullptr ? *Bitmap() : scratch);
    if (reader) reader(stream, true);
  } catch (const std::exception&) {
    Params.FileType = ftUnknown;
  }
  Params.FileName.clear();
}

// ---- recognising formats

namespace {

// The built-in content tests, in the order they are tried. Each reads what it needs from the
// start of the stream; `head` holds the first bytes (zero beyond the data).
std::int32_t BuiltInStreamFormat(TStream& stream, std::int64_t start) {
  const std::int64_t size = stream.Size() - start;
  std::array<std::uint8_t, 16> head{};
  stream.Seek(start);
  stream.Read(head.data(), head.size());
  const auto rewind = [&] { stream.Seek(start); };
  rewind();
  const std::string text5 = LeadingText(head.data(), 5);
  const std::string text4 = LeadingText(head.data(), 4);

  if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return ftJPEG;
  if (size > 12 && text5 == "JFIF") return ftJPEG;
  if (size > 13 && head[0] == 'G' && head[1] == 'I' && head[2] == 'F') return ftGIF;
  if (size > 12 && text5 == "PCX2") return ftPCX;
  if (size > 4 && text4 == "PCX") return ftPCX;
  if (size > 14 && head[0] == 'B' && head[1] == 'M') return ftBMP;
  if (size > 128 && head[0] == 0x0A && head[1] <= 5) return ftPCX;
  if (size > 12 && text5 == "TIFF") return ftTIFF;
  if (size > 8 && ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'))) {
    return ftTIFF;
  }
  static constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (size > 8 && std::equal(kPngSignature.begin(), kPngSignature.end(), head.begin())) {
    return ftPNG;
  }
  if (IsIconDirectory(stream, 1)) return ftICO;
  rewind();
  if (IsIconDirectory(stream, 2)) return ftCUR;
  rewind();
  if (IsTgaStream(stream)) return ftTGA;
  return ftUnknown;
}

}  // namespace

std::int32_t FindStreamFormat(TStream& stream) {
  const std::int64_t start = stream.Position();
  std::int32_t code = ftUnknown;
  try {
    for (const TFileFormatInfo& info : FileFormats()) {
      if (!info.ContentTest) continue;
      stream.Seek(start);
      if (info.ContentTest(stream)) {
        code = info.FileType;
        break;
      }
    }
    if (code == ftUnknown) code = BuiltInStreamFormat(stream, start);
  } catch (const std::exception&) {
    // A stream that fails while being looked at holds nothing we know.
  }
  stream.Seek(start);
  return code;
}

std::int32_t FindFileFormat(const std::string& fileName, bool checkExtension) {
  std::int32_t code = ftUnknown;
  try {
    TFileStream file(fileName, TFileStream::Mode::Read);
    code = FindStreamFormat(file);
  } catch (const std::exception&) {
    return ftUnknown;
  }
  if (checkExtension) {
    const TFileFormatInfo* info = FormatByExtension(WithoutDot(LowerExtension(fileName)));
    if (info == nullptr || info->FileType != code) return ftUnknown;
  }
  return code;
}

std::string ParamsDescription(const TIOParams& params) {
  std::string text;
  if (const TFileFormatInfo* info = FormatByType(params.FileType)) {
    text = info->Description + " (" + FormatExtension(params.FileType, 0) + ")";
  }
  const auto pick = [](std::size_t index, std::initializer_list<const char*> names) {
    return index < names.size() ? std::string(names.begin()[index]) : std::string();
  };
  switch (params.FileType) {
    case ftTIFF:
      text += pick(params.TiffCompression, {" Uncompressed", " Huffman", " Group 3 Fax", " Group 3 Fax 2D",
                                            " Group 4 Fax", " LZW", " Jpeg v.5", " Jpeg", " PackBits RLE"});
      break;
    case ftGIF:
      if (params.GifInterlaced) text += " Interlaced";
      break;
    case ftJPEG:
      text += pick(params.JpegColorSpace, {"", " Gray level", " YCbCr", " CMYK", " YCbCrK"});
      break;
    case ftPCX:
      if (params.PcxCompression == 0) text += " Uncompressed";
      break;
    case ftBMP: text += pick(params.BmpVersion, {" ver.1", " ver.3", " OS/2 v.1", " OS/2 v.2"}); break;
    case ftPNG:
      if (params.PngInterlaced) text += " Interlaced";
      break;
    case ftTGA: text += params.TgaCompressed ? " Compressed" : " Uncompressed"; break;
    default: break;
  }
  return text;
}

}  // namespace veilora
