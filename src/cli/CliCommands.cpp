#include "cli/CliCommands.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <system_error>

#include "cli/CliProgress.h"
#include "hidden/Crypt32.h"
#include "hidden/Envelope.h"
#include "hidden/HiddenCarrier.h"
#include "image/BaseView.h"
#include "image/Errors.h"
#include "image/ImageProc.h"
#include "io/HiddenTextSave.h"
#include "io/ImageIO.h"

namespace veilora::cli {
namespace {

// The share of an image's progress bar each step takes.
constexpr int kReadEnd = 45;
constexpr int kHideEnd = 55;

// A view without a window: the components need one to hold the bitmap.
class TCliView final : public TBitmapView {
 public:
  void Update() override {}
};

// One image with the two components the commands use. Undo is off: a copy of a big picture would
// only cost memory here.
class TImageFile {
 public:
  TImageFile() {
    io.SetAttachedView(&view);
    proc.SetAttachedView(&view);
    proc.AutoUndo = false;
  }
  TImageFile(const TImageFile&) = delete;
  TImageFile& operator=(const TImageFile&) = delete;

  TCliView view;
  TImageIO io;
  TImageProc proc;

  TBitmap& Bitmap() { return *view.Bitmap(); }
};

// Failures and warnings, and the exit status of the first failure.
class TReport {
 public:
  TReport(std::FILE* err, TProgressBar& bar) : err_(err), bar_(bar) {}

  void Fail(const std::string& image, TExitCode code, const std::string& text) {
    Say(image, text);
    if (status_ == kExitOk) status_ = code;
  }
  void Warn(const std::string& image, const std::string& text) { Say(image, "warning: " + text); }
  int Status() const { return status_; }

 private:
  void Say(const std::string& image, const std::string& text) {
    bar_.Clear();
    std::fprintf(err_, "veilora-cli: %s%s%s\n", image.c_str(), image.empty() ? "" : ": ", text.c_str());
    std::fflush(err_);
  }

  std::FILE* err_;
  TProgressBar& bar_;
  int status_ = kExitOk;
};

std::string Plural(std::int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Reads a whole file, or standard input for "-". False with `error` set when it cannot.
bool ReadWholeFile(const std::string& name, std::string& bytes, std::string& error) {
  if (name == "-") {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    bytes = buffer.str();
    if (std::cin.bad()) {
      error = "cannot read standard input";
      return false;
    }
    return true;
  }
  std::ifstream file(name, std::ios::binary);
  if (!file) {
    error = "cannot open " + name + ": " + std::strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) {
    error = "cannot read " + name;
    return false;
  }
  return true;
}

// A passphrase file holds the passphrase; the line break an editor or `echo` puts at its end is
// not part of it.
bool ReadPassphrase(const std::string& name, std::string& passphrase, std::string& error) {
  if (!ReadWholeFile(name, passphrase, error)) return false;
  if (!passphrase.empty() && passphrase.back() == '\n') passphrase.pop_back();
  if (!passphrase.empty() && passphrase.back() == '\r') passphrase.pop_back();
  if (passphrase.empty()) {
    error = "the passphrase file " + name + " is empty";
    return false;
  }
  return true;
}

// Loads an image into `file`. A picture that was only partly decoded counts as failed unless
// `allowDamaged`, and is then used with a warning.
bool LoadImage(const std::string& name, TImageFile& file, bool allowDamaged, const char* damagedAdvice,
               TReport& report, TProgressBar& bar) {
  bar.BeginStep("reading", 0, kReadEnd);
  file.io.OnProgress = [&bar](TObject&, int percentage) { bar.StepProgress(percentage); };
  try {
    file.io.LoadFromFile(name);
  } catch (const std::exception& error) {
    report.Fail(name, kExitFileError, error.what());
    return false;
  }
  const bool partial = file.io.Aborting && !file.io.Damage.empty() && !file.Bitmap().Empty();
  if (file.io.Aborting && !partial) {
    report.Fail(name, kExitFileError,
                "cannot read the picture: it is damaged or not in a format Veilora reads");
    return false;
  }
  if (partial) {
    if (!allowDamaged) {
      report.Fail(name, kExitFileError, "the picture is damaged (" + file.io.Damage + "); " + damagedAdvice);
      return false;
    }
    report.Warn(name, "the picture is damaged (" + file.io.Damage + "); using the part that could be read");
  }
  return true;
}

std::int32_t ProtectedFit(std::int32_t fit) {
  return std::max<std::int32_t>(fit - static_cast<std::int32_t>(kEnvelopeOverhead), 0);
}

std::string SpaceText(const TBitmap& bitmap) {
  const std::int32_t fit = HiddenPayloadFit(bitmap);
  return Plural(fit, "byte fits", "bytes fit") + " (" + std::to_string(ProtectedFit(fit)) +
         " with a passphrase)";
}

// --------------------------------------------------------------------------- capacity, info

int RunCapacity(const TCliOptions& options, std::FILE* out, TReport& report, TProgressBar& bar) {
  for (std::size_t i = 0; i < options.images.size(); ++i) {
    const std::string& name = options.images[i];
    bar.BeginImage(i, options.images.size(), name);
    TImageFile file;
    // The capacity depends only on the picture's size, which a damaged file still gives.
    if (!LoadImage(name, file, true, "", report, bar)) continue;
    bar.Clear();
    std::fprintf(out, "%s: %s\n", name.c_str(), SpaceText(file.Bitmap()).c_str());
  }
  return report.Status();
}

std::string MessageDescription(TImageFile& file) {
  if (file.Bitmap().PixelFormat() != pf24bit) return "none (a two-colour picture holds no hidden text)";
  std::string text;
  try {
    file.proc.ReadHiddenText(text);
  } catch (const ENoHiddenData&) {
    return "none";
  }
  if (text.empty()) return "none (cleared)";
  const std::int32_t fit = HiddenPayloadFit(file.Bitmap());
  std::string description = Plural(static_cast<std::int64_t>(text.size()), "byte", "bytes");
  if (static_cast<std::int64_t>(text.size()) > fit) {
    description += ", cut when it was written: only " + std::to_string(fit) + " are in the picture";
  }
  if (IsEnvelope(text)) {
    TEnvelopeInfo info;
    const TEnvelopeStatus status = ReadEnvelopeInfo(text, info);
    if (status == TEnvelopeStatus::Ok) {
      description += ", protected by a passphrase (" +
                     Plural(static_cast<std::int64_t>(info.messageBytes), "byte", "bytes") +
                     " of message; Argon2id, " + Plural(info.cost.passes, "pass", "passes") + " over " +
                     std::to_string(info.cost.memoryKiB) + " KiB)";
    } else {
      description += ", protected by a passphrase, but " + std::string(EnvelopeStatusText(status));
    }
  }
  return description;
}

int RunInfo(const TCliOptions& options, std::FILE* out, TReport& report, TProgressBar& bar) {
  for (std::size_t i = 0; i < options.images.size(); ++i) {
    const std::string& name = options.images[i];
    bar.BeginImage(i, options.images.size(), name);
    TImageFile file;
    if (!LoadImage(name, file, true, "", report, bar)) continue;
    const TBitmap& bitmap = file.Bitmap();
    const std::string format = ParamsDescription(file.io.Params);
    const std::string message = MessageDescription(file);
    bar.Clear();
    std::fprintf(out, "%s\n  format: %s\n  size: %d x %d pixels, %d bits per pixel\n", name.c_str(),
                 format.empty() ? "unknown" : format.c_str(), bitmap.Width(), bitmap.Height(),
                 bitmap.PixelFormat() == pf24bit ? 24 : 1);
    std::fprintf(out, "  space: %s; the window's status line shows %d\n", SpaceText(bitmap).c_str(),
                 HiddenCapacity(bitmap));
    std::fprintf(out, "  message: %s\n", message.c_str());
  }
  return report.Status();
}

// --------------------------------------------------------------------------- hide

std::string OutputName(const TCliOptions& options, const std::string& image) {
  if (options.output) return *options.output;
  if (options.inPlace) return image;
  std::filesystem::path name = std::filesystem::path(image).filename();
  if (options.format) name.replace_extension("." + *options.format);
  return (std::filesystem::path(*options.outputDir) / name).string();
}

void HideInto(const TCliOptions& options, const std::string& name, const std::string& payload,
              std::set<std::filesystem::path>& written, TReport& report, TProgressBar& bar) {
  const std::string target = OutputName(options, name);
  const std::int32_t fileType = SaveTypeForExtension(LowerExtension(target));
  if (fileType == ftUnknown) {
    report.Fail(name, kExitFileError,
                "cannot write " + target +
                    ": its extension names no format Veilora writes (use .png, .bmp, "
                    ".tif, .tga or .pcx)");
    return;
  }
  // Two inputs of one name from different folders would land on one output.
  std::error_code ignored;
  const std::filesystem::path key = std::filesystem::weakly_canonical(target, ignored);
  if (!written.insert(key.empty() ? std::filesystem::path(target) : key).second) {
    report.Fail(name, kExitFileError, "not written: " + target + " is the output of an earlier image too");
    return;
  }

  TImageFile file;
  if (!LoadImage(name, file, options.force, "--force hides the message in the part that could be read",
                 report, bar)) {
    return;
  }
  bar.BeginStep("hiding", kReadEnd, kHideEnd);
  // A picture in two colours looks the same in true colour, which can carry the message.
  if (file.Bitmap().PixelFormat() != pf24bit) file.proc.ConvertToTrueColour();
  const std::int32_t fit = file.proc.HiddenTextFit();
  if (static_cast<std::int64_t>(payload.size()) > fit) {
    const TBitmap& bitmap = file.Bitmap();
    report.Fail(name, kExitTooLong,
                "the message needs " + Plural(static_cast<std::int64_t>(payload.size()), "byte", "bytes") +
                    ", but " + std::to_string(fit) + " fit in this " + std::to_string(bitmap.Width()) +
                    " x " + std::to_string(bitmap.Height()) + " picture");
    return;
  }
  file.proc.WriteHiddenText(payload);
  if (PrepareHiddenTextSave(file.Bitmap(), fileType, file.io.Params) == THiddenTextSave::Destroyed) {
    const std::string mode = SaveModeName(fileType, file.io.Params);
    if (!options.force) {
      report.Fail(name, kExitLossy,
                  "not written: saving as " + mode +
                      " would destroy the message; choose a lossless format such as "
                      ".png, or give --force");
      return;
    }
    report.Warn(name, "saving as " + mode + " destroys the message");
  }
  bar.BeginStep("writing", kHideEnd, 100);
  try {
    file.io.SaveToFile(target);
  } catch (const std::exception& error) {
    report.Fail(name, kExitFileError, error.what());
    return;
  }
  if (file.io.Aborting) {
    report.Fail(name, kExitFileError, "cannot write " + target);
    return;
  }
  bar.StepProgress(100);
}

int RunHide(const TCliOptions& options, TReport& report, TProgressBar& bar) {
  std::string message;
  std::string error;
  if (options.text) {
    message = *options.text;
  } else if (!ReadWholeFile(*options.messageFile, message, error)) {
    report.Fail({}, kExitUsage, error);
    return report.Status();
  }
  if (message.empty()) {
    report.Fail({}, kExitUsage, "the message is empty");
    return report.Status();
  }
  if (options.cipher) message = EncryptText(message, kTextStartKey, kTextMultiplierKey, kTextAdditiveKey);
  if (options.passphraseFile) {
    std::string passphrase;
    if (!ReadPassphrase(*options.passphraseFile, passphrase, error)) {
      report.Fail({}, kExitUsage, error);
      return report.Status();
    }
    // Sealed once: every image gets the same envelope, and the key is derived only once.
    try {
      message = SealEnvelope(message, passphrase);
    } catch (const std::exception& sealError) {
      report.Fail({}, kExitFileError, sealError.what());
      return report.Status();
    }
  }
  if (options.outputDir) {
    std::error_code made;
    std::filesystem::create_directories(*options.outputDir, made);
    if (made) {
      report.Fail({}, kExitFileError, "cannot make the folder " + *options.outputDir + ": " + made.message());
      return report.Status();
    }
  }
  std::set<std::filesystem::path> written;
  for (std::size_t i = 0; i < options.images.size(); ++i) {
    bar.BeginImage(i, options.images.size(), options.images[i]);
    HideInto(options, options.images[i], message, written, report, bar);
  }
  return report.Status();
}

// --------------------------------------------------------------------------- reveal

// The message of one image, or nothing after a reported failure.
std::optional<std::string> RevealFrom(const TCliOptions& options, const std::string& name,
                                      const std::optional<std::string>& passphrase, TReport& report,
                                      TProgressBar& bar) {
  TImageFile file;
  if (!LoadImage(name, file, true, "", report, bar)) return std::nullopt;
  bar.BeginStep("revealing", kReadEnd, 100);
  if (file.Bitmap().PixelFormat() != pf24bit) {
    report.Fail(name, kExitNoMessage, "no hidden message: a two-colour picture holds none");
    return std::nullopt;
  }
  std::string text;
  try {
    file.proc.ReadHiddenText(text);
  } catch (const ENoHiddenData&) {
    report.Fail(name, kExitNoMessage, "no hidden message in this picture");
    return std::nullopt;
  }
  const std::int32_t fit = HiddenPayloadFit(file.Bitmap());
  if (static_cast<std::int64_t>(text.size()) > fit) {
    report.Warn(name, "the message was cut when it was written; its last " +
                          Plural(static_cast<std::int64_t>(text.size()) - fit, "byte is", "bytes are") +
                          " missing and given as zero bytes");
  }
  if (IsEnvelope(text)) {
    if (!passphrase) {
      report.Fail(name, kExitPassphrase,
                  "the message is protected by a passphrase; give it with --passphrase-file");
      return std::nullopt;
    }
    std::string opened;
    const TEnvelopeStatus status = OpenEnvelope(text, *passphrase, opened);
    if (status != TEnvelopeStatus::Ok) {
      report.Fail(name, status == TEnvelopeStatus::OutOfMemory ? kExitFileError : kExitPassphrase,
                  EnvelopeStatusText(status));
      return std::nullopt;
    }
    text = std::move(opened);
  } else if (passphrase) {
    report.Warn(name, "the message is not protected by a passphrase");
  }
  if (options.cipher) text = DecryptText(text, kTextStartKey, kTextMultiplierKey, kTextAdditiveKey);
  return text;
}

bool WriteAll(std::FILE* stream, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

int RunReveal(const TCliOptions& options, std::FILE* out, TReport& report, TProgressBar& bar) {
  std::optional<std::string> passphrase;
  if (options.passphraseFile) {
    std::string error;
    passphrase.emplace();
    if (!ReadPassphrase(*options.passphraseFile, *passphrase, error)) {
      report.Fail({}, kExitUsage, error);
      return report.Status();
    }
  }
  const bool several = options.images.size() > 1;
  for (std::size_t i = 0; i < options.images.size(); ++i) {
    const std::string& name = options.images[i];
    bar.BeginImage(i, options.images.size(), name);
    const std::optional<std::string> message = RevealFrom(options, name, passphrase, report, bar);
    if (!message) continue;
    bar.Clear();
    if (options.output) {
      // Written beside the target and renamed over it, so a failure leaves an earlier file whole.
      const std::string temporary = *options.output + ".veilora-tmp";
      std::FILE* file = std::fopen(temporary.c_str(), "wb");
      bool good = file != nullptr && WriteAll(file, *message);
      if (file != nullptr) good = std::fclose(file) == 0 && good;
      std::error_code renamed;
      if (good) std::filesystem::rename(temporary, *options.output, renamed);
      if (!good || renamed) {
        std::remove(temporary.c_str());
        report.Fail(name, kExitFileError, "cannot write " + *options.output);
      }
      continue;
    }
    if (several) std::fprintf(out, "==> %s <==\n", name.c_str());
    bool good = WriteAll(out, *message);
    // Between several messages a line break keeps the next header on a line of its own.
    if (several && !message->empty() && message->back() != '\n') good = std::fputc('\n', out) != EOF && good;
    if (std::fflush(out) != 0 || !good) {
      report.Fail(name, kExitFileError, "cannot write to standard output");
      return report.Status();
    }
  }
  return report.Status();
}

}  // namespace

int RunCommand(const TCliOptions& options, std::FILE* out, std::FILE* err) {
  TProgressBar bar(err, !options.quiet && IsTerminal(err));
  TReport report(err, bar);
  switch (options.command) {
    case TCommand::Capacity: return RunCapacity(options, out, report, bar);
    case TCommand::Info: return RunInfo(options, out, report, bar);
    case TCommand::Hide: return RunHide(options, report, bar);
    case TCommand::Reveal: return RunReveal(options, out, report, bar);
    case TCommand::Help: std::fputs(HelpText(), out); return kExitOk;
    case TCommand::Version: std::fprintf(out, "veilora-cli %s\n", VEILORA_VERSION); return kExitOk;
  }
  return kExitUsage;
}

}  // namespace veilora::cli
