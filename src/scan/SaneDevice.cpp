#include "scan/SaneDevice.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "scan/DeferredCancel.h"
#include "scan/Twain.h"

// Backends' reader threads stay deferred-cancellable in this program (see DeferredCancel.h).
extern "C" int pthread_setcanceltype(int /*type*/, int* oldtype) {
  return veilora::scan::SetCancelTypeDeferred(oldtype);
}

namespace veilora::scan {

namespace {

std::mutex& LibraryMutex() {
  static std::mutex mutex;
  return mutex;
}
int libraryUsers = 0;
bool libraryReady = false;

// Status codes of later SANE releases, which their header offers only to frontends that ask.
constexpr int kSaneWarmingUp = 12;
constexpr int kSaneLocked = 13;

SANE_Handle Handle(void* handle) {
  return static_cast<SANE_Handle>(handle);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// The mode a device's mode name stands for, by the names SANE and its backends use.
bool ModeOfName(const std::string& name, TScanMode& mode) {
  const std::string lower = Lower(name);
  if (Contains(lower, "color") || Contains(lower, "colour")) {
    mode = TScanMode::Colour;
  } else if (Contains(lower, "gray") || Contains(lower, "grey")) {
    mode = TScanMode::Grey;
  } else if (Contains(lower, "lineart") || Contains(lower, "binary") || Contains(lower, "black")) {
    mode = TScanMode::BlackWhite;
  } else {
    return false;
  }
  return true;
}

bool WordListHas(const SANE_Option_Descriptor* option, SANE_Word value) {
  if (option->constraint_type != SANE_CONSTRAINT_WORD_LIST)
    return option->constraint_type == SANE_CONSTRAINT_NONE;
  for (SANE_Word i = 1; i <= option->constraint.word_list[0]; ++i) {
    if (option->constraint.word_list[i] == value) return true;
  }
  return false;
}

double WordToNumber(const SANE_Option_Descriptor* option, SANE_Word word) {
  return option->type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : static_cast<double>(word);
}

}  // namespace

TSaneLibrary::TSaneLibrary() {
  const std::lock_guard<std::mutex> lock(LibraryMutex());
  if (libraryUsers++ == 0) {
    SANE_Int version = 0;
    libraryReady = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
  }
  ready_ = libraryReady;
}

TSaneLibrary::~TSaneLibrary() {
  const std::lock_guard<std::mutex> lock(LibraryMutex());
  if (--libraryUsers == 0 && libraryReady) {
    sane_exit();
    libraryReady = false;
  }
}

std::vector<TDeviceInfo> ListDevices() {
  std::vector<TDeviceInfo> devices;
  const SANE_Device** list = nullptr;
  if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || list == nullptr) return devices;
  for (; *list != nullptr; ++list) {
    const SANE_Device& device = **list;
    const auto text = [](SANE_String_Const value) { return std::string(value != nullptr ? value : ""); };
    if (device.name == nullptr || *device.name == '\0') continue;
    devices.push_back({text(device.name), text(device.vendor), text(device.model), text(device.type)});
  }
  return devices;
}

TScanStatus StatusFromSane(int saneStatus) {
  using namespace twain;
  switch (saneStatus) {
    case SANE_STATUS_GOOD: return {TWRC_SUCCESS, TWCC_SUCCESS, {}};
    case SANE_STATUS_CANCELLED: return {TWRC_CANCEL, TWCC_SUCCESS, "The scan was cancelled."};
    case SANE_STATUS_JAMMED:
      return {TWRC_FAILURE, TWCC_PAPERJAM, "The paper is jammed in the scanner's document feeder."};
    case SANE_STATUS_NO_DOCS:
      return {TWRC_FAILURE, TWCC_NOMEDIA,
              "The scanner's document feeder is empty: put the pages in and scan again."};
    case SANE_STATUS_COVER_OPEN:
      return {TWRC_FAILURE, TWCC_CHECKDEVICEONLINE, "The scanner's cover is open."};
    case SANE_STATUS_DEVICE_BUSY:
      return {TWRC_FAILURE, TWCC_CHECKDEVICEONLINE, "The scanner is busy; try again in a moment."};
    case kSaneWarmingUp:
      return {TWRC_FAILURE, TWCC_CHECKDEVICEONLINE,
              "The scanner's lamp is warming up; try again in a moment."};
    case kSaneLocked:
      return {TWRC_FAILURE, TWCC_CHECKDEVICEONLINE, "The scanner's mechanism is locked for transport."};
    case SANE_STATUS_NO_MEM:
      return {TWRC_FAILURE, TWCC_LOWMEMORY, "There is not enough memory for the scan."};
    case SANE_STATUS_ACCESS_DENIED: return {TWRC_FAILURE, TWCC_DENIED, "Access to the scanner was denied."};
    case SANE_STATUS_IO_ERROR:
      return {TWRC_FAILURE, TWCC_OPERATIONERROR,
              "The scanner failed while sending the picture (input/output error)."};
    default:
      return {
          TWRC_FAILURE, TWCC_OPERATIONERROR,
          std::string("The scanner failed: ") + sane_strstatus(static_cast<SANE_Status>(saneStatus)) + "."};
  }
}

TSaneDevice::~TSaneDevice() {
  Close();
}

TScanStatus TSaneDevice::Open(const std::string& name) {
  Close();
  SANE_Handle handle = nullptr;
  const SANE_Status status = sane_open(name.c_str(), &handle);
  if (status != SANE_STATUS_GOOD) {
    TScanStatus result = StatusFromSane(status);
    result.conditionCode = twain::TWCC_CHECKDEVICEONLINE;
    result.message = "The scanner " + name + " cannot be opened: " + sane_strstatus(status) + ".";
    return result;
  }
  handle_ = handle;
  name_ = name;
  return {};
}

void TSaneDevice::Close() {
  if (handle_ != nullptr) sane_close(Handle(handle_));
  handle_ = nullptr;
}

int TSaneDevice::FindOption(const char* name) const {
  if (handle_ == nullptr) return -1;
  SANE_Int count = 0;
  if (sane_control_option(Handle(handle_), 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
    return -1;
  for (SANE_Int i = 1; i < count; ++i) {
    const SANE_Option_Descriptor* option = sane_get_option_descriptor(Handle(handle_), i);
    if (option != nullptr && option->name != nullptr && std::string(option->name) == name &&
        SANE_OPTION_IS_ACTIVE(option->cap)) {
      return i;
    }
  }
  return -1;
}

double TSaneDevice::GetNumber(int option) const {
  const SANE_Option_Descriptor* descriptor = sane_get_option_descriptor(Handle(handle_), option);
  if (descriptor == nullptr || descriptor->size < static_cast<SANE_Int>(sizeof(SANE_Word))) return 0;
  std::vector<SANE_Word> value(static_cast<std::size_t>(descriptor->size) / sizeof(SANE_Word) + 1);
  if (sane_control_option(Handle(handle_), option, SANE_ACTION_GET_VALUE, value.data(), nullptr) !=
      SANE_STATUS_GOOD)
    return 0;
  return WordToNumber(descriptor, value[0]);
}

std::string TSaneDevice::GetString(int option) const {
  const SANE_Option_Descriptor* descriptor = sane_get_option_descriptor(Handle(handle_), option);
  if (descriptor == nullptr || descriptor->type != SANE_TYPE_STRING || descriptor->size <= 0) return {};
  std::vector<char> value(static_cast<std::size_t>(descriptor->size) + 1, '\0');
  if (sane_control_option(Handle(handle_), option, SANE_ACTION_GET_VALUE, value.data(), nullptr) !=
      SANE_STATUS_GOOD)
    return {};
  return std::string(value.data());
}

bool TSaneDevice::SetNumber(int option, double value) {
  const SANE_Option_Descriptor* descriptor = sane_get_option_descriptor(Handle(handle_), option);
  if (descriptor == nullptr || !SANE_OPTION_IS_SETTABLE(descriptor->cap)) return false;
  if (descriptor->constraint_type == SANE_CONSTRAINT_RANGE) {
    const SANE_Range& range = *descriptor->constraint.range;
    double low = WordToNumber(descriptor, range.min);
    double high = WordToNumber(descriptor, range.max);
    const double step = WordToNumber(descriptor, range.quant);
    value = std::clamp(value, low, high);
    if (step > 0) value = std::min(high, low + std::round((value - low) / step) * step);
  } else if (descriptor->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
    // The nearest value the device offers.
    double best = value;
    double bestDistance = -1;
    for (SANE_Word i = 1; i <= descriptor->constraint.word_list[0]; ++i) {
      const double candidate = WordToNumber(descriptor, descriptor->constraint.word_list[i]);
      if (bestDistance < 0 || std::fabs(candidate - value) < bestDistance) {
        best = candidate;
        bestDistance = std::fabs(candidate - value);
      }
    }
    value = best;
  }
  SANE_Word word =
      descriptor->type == SANE_TYPE_FIXED ? SANE_FIX(value) : static_cast<SANE_Word>(std::lround(value));
  SANE_Int info = 0;
  return sane_control_option(Handle(handle_), option, SANE_ACTION_SET_VALUE, &word, &info) ==
         SANE_STATUS_GOOD;
}

bool TSaneDevice::SetString(int option, const std::string& value) {
  const SANE_Option_Descriptor* descriptor = sane_get_option_descriptor(Handle(handle_), option);
  if (descriptor == nullptr || !SANE_OPTION_IS_SETTABLE(descriptor->cap) || descriptor->size <= 0)
    return false;
  std::vector<char> buffer(static_cast<std::size_t>(descriptor->size) + 1, '\0');
  std::copy_n(value.begin(), std::min(value.size(), buffer.size() - 1), buffer.begin());
  SANE_Int info = 0;
  return sane_control_option(Handle(handle_), option, SANE_ACTION_SET_VALUE, buffer.data(), &info) ==
         SANE_STATUS_GOOD;
}

TDeviceOptions TSaneDevice::Options() {
  TDeviceOptions options;
  if (handle_ == nullptr) return options;
  const int modeOption = FindOption(SANE_NAME_SCAN_MODE);
  const int depthOption = FindOption(SANE_NAME_BIT_DEPTH);
  const SANE_Option_Descriptor* depth =
      depthOption > 0 ? sane_get_option_descriptor(Handle(handle_), depthOption) : nullptr;
  const bool greyByDepthOne =
      depth != nullptr && SANE_OPTION_IS_SETTABLE(depth->cap) && WordListHas(depth, 1);
  const auto addMode = [&options](TScanMode mode) {
    if (std::find(options.modes.begin(), options.modes.end(), mode) == options.modes.end())
      options.modes.push_back(mode);
  };
  if (modeOption > 0) {
    const SANE_Option_Descriptor* mode = sane_get_option_descriptor(Handle(handle_), modeOption);
    if (mode->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
      for (const SANE_String_Const* name = mode->constraint.string_list; *name != nullptr; ++name) {
        TScanMode found{};
        if (ModeOfName(*name, found)) {
          addMode(found);
          if (found == TScanMode::Grey && greyByDepthOne) addMode(TScanMode::BlackWhite);
        }
      }
    }
    TScanMode current{};
    if (ModeOfName(GetString(modeOption), current)) options.mode = current;
    if (options.mode == TScanMode::Grey && depth != nullptr && std::lround(GetNumber(depthOption)) == 1) {
      options.mode = TScanMode::BlackWhite;
    }
  }
  if (options.modes.empty()) options.modes.push_back(options.mode);
  std::sort(options.modes.begin(), options.modes.end());

  if (const int option = FindOption(SANE_NAME_SCAN_RESOLUTION); option > 0) {
    const SANE_Option_Descriptor* resolution = sane_get_option_descriptor(Handle(handle_), option);
    if (resolution->constraint_type == SANE_CONSTRAINT_RANGE) {
      options.resolutionMin = WordToNumber(resolution, resolution->constraint.range->min);
      options.resolutionMax = WordToNumber(resolution, resolution->constraint.range->max);
      options.resolutionStep = WordToNumber(resolution, resolution->constraint.range->quant);
    } else if (resolution->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
      for (SANE_Word i = 1; i <= resolution->constraint.word_list[0]; ++i) {
        options.resolutionList.push_back(WordToNumber(resolution, resolution->constraint.word_list[i]));
      }
      if (!options.resolutionList.empty()) {
        options.resolutionMin =
            *std::min_element(options.resolutionList.begin(), options.resolutionList.end());
        options.resolutionMax =
            *std::max_element(options.resolutionList.begin(), options.resolutionList.end());
      }
    }
    options.resolution = GetNumber(option);
  }

  const int tlx = FindOption(SANE_NAME_SCAN_TL_X);
  const int tly = FindOption(SANE_NAME_SCAN_TL_Y);
  const int brx = FindOption(SANE_NAME_SCAN_BR_X);
  const int bry = FindOption(SANE_NAME_SCAN_BR_Y);
  if (tlx > 0 && tly > 0 && brx > 0 && bry > 0) {
    const SANE_Option_Descriptor* x = sane_get_option_descriptor(Handle(handle_), brx);
    const SANE_Option_Descriptor* y = sane_get_option_descriptor(Handle(handle_), bry);
    if (x->unit == SANE_UNIT_MM && y->unit == SANE_UNIT_MM && x->constraint_type == SANE_CONSTRAINT_RANGE &&
        y->constraint_type == SANE_CONSTRAINT_RANGE) {
      options.hasArea = true;
      options.maxArea = {WordToNumber(x, x->constraint.range->min), WordToNumber(y, y->constraint.range->min),
                         WordToNumber(x, x->constraint.range->max),
                         WordToNumber(y, y->constraint.range->max)};
      options.area = {GetNumber(tlx), GetNumber(tly), GetNumber(brx), GetNumber(bry)};
    }
  }
  return options;
}

TScanStatus TSaneDevice::Apply(const TScanSettings& settings) {
  if (handle_ == nullptr) return {twain::TWRC_FAILURE, twain::TWCC_SEQERROR, "No scanner is open."};
  if (const int modeOption = FindOption(SANE_NAME_SCAN_MODE); modeOption > 0) {
    const SANE_Option_Descriptor* mode = sane_get_option_descriptor(Handle(handle_), modeOption);
    // Black and white through the grey mode at one bit where the device has no line-art mode.
    std::string wanted;
    std::string grey;
    if (mode->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
      for (const SANE_String_Const* name = mode->constraint.string_list; *name != nullptr; ++name) {
        TScanMode found{};
        if (!ModeOfName(*name, found)) continue;
        if (found == settings.mode && wanted.empty()) wanted = *name;
        if (found == TScanMode::Grey && grey.empty()) grey = *name;
      }
    }
    if (wanted.empty() && settings.mode == TScanMode::BlackWhite) wanted = grey;
    if (!wanted.empty() && wanted != GetString(modeOption)) SetString(modeOption, wanted);
    if (const int depthOption = FindOption(SANE_NAME_BIT_DEPTH); depthOption > 0) {
      const SANE_Option_Descriptor* depth = sane_get_option_descriptor(Handle(handle_), depthOption);
      const long current = std::lround(GetNumber(depthOption));
      TScanMode now{};
      const bool inGrey = ModeOfName(GetString(modeOption), now) && now == TScanMode::Grey;
      if (settings.mode == TScanMode::BlackWhite && inGrey && current != 1 && WordListHas(depth, 1)) {
        SetNumber(depthOption, 1);
      } else if (settings.mode != TScanMode::BlackWhite && current == 1 && WordListHas(depth, 8)) {
        SetNumber(depthOption, 8);
      }
    }
  }
  if (settings.resolution > 0) {
    if (const int option = FindOption(SANE_NAME_SCAN_RESOLUTION); option > 0)
      SetNumber(option, settings.resolution);
  }
  if (settings.setArea) {
    const int tlx = FindOption(SANE_NAME_SCAN_TL_X);
    const int tly = FindOption(SANE_NAME_SCAN_TL_Y);
    const int brx = FindOption(SANE_NAME_SCAN_BR_X);
    const int bry = FindOption(SANE_NAME_SCAN_BR_Y);
    if (tlx > 0 && tly > 0 && brx > 0 && bry > 0) {
      // Corners in an order that never makes the area empty on the way.
      SetNumber(tlx, std::min(settings.area.left, settings.area.right));
      SetNumber(tly, std::min(settings.area.top, settings.area.bottom));
      SetNumber(brx, std::max(settings.area.left, settings.area.right));
      SetNumber(bry, std::max(settings.area.top, settings.area.bottom));
    }
  }
  return {};
}

TScanStatus TSaneDevice::Scan(TScanImage& image, const TScanProgress& progress,
                              const std::atomic<bool>* cancel) {
  if (handle_ == nullptr) return {twain::TWRC_FAILURE, twain::TWCC_SEQERROR, "No scanner is open."};
  SANE_Handle handle = Handle(handle_);
  TFrameAssembler assembler;
  TScanStatus result;
  double resolution = 0;
  if (const int option = FindOption(SANE_NAME_SCAN_RESOLUTION); option > 0) resolution = GetNumber(option);
  std::vector<SANE_Byte> buffer(32768);
  const auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
  for (int frame = 0;; ++frame) {
    SANE_Status status = sane_start(handle);
    if (status != SANE_STATUS_GOOD) {
      result = StatusFromSane(status);
      break;
    }
    SANE_Parameters parameters{};
    status = sane_get_parameters(handle, &parameters);
    if (status != SANE_STATUS_GOOD) {
      result = StatusFromSane(status);
      break;
    }
    TFrameFormat format;
    switch (parameters.format) {
      case SANE_FRAME_GRAY: format.kind = TFrameKind::Grey; break;
      case SANE_FRAME_RGB: format.kind = TFrameKind::Rgb; break;
      case SANE_FRAME_RED: format.kind = TFrameKind::Red; break;
      case SANE_FRAME_GREEN: format.kind = TFrameKind::Green; break;
      case SANE_FRAME_BLUE: format.kind = TFrameKind::Blue; break;
      default:
        result = {twain::TWRC_FAILURE, twain::TWCC_OPERATIONERROR,
                  "The scanner sends its picture in a form Veilora does not read."};
        break;
    }
    if (!result.Ok()) break;
    format.lastFrame = parameters.last_frame != SANE_FALSE;
    format.bytesPerLine = parameters.bytes_per_line;
    format.pixelsPerLine = parameters.pixels_per_line;
    format.lines = parameters.lines;
    format.depth = parameters.depth;
    if (!assembler.BeginFrame(format)) {
      result = {twain::TWRC_FAILURE, twain::TWCC_OPERATIONERROR,
                "The scan cannot be taken: " + assembler.Error() + "."};
      break;
    }
    std::int32_t reported = -1;
    // Every frame is read to its end, whatever its announced size says.
    for (;;) {
      if (cancelled()) {
        result = StatusFromSane(SANE_STATUS_CANCELLED);
        break;
      }
      SANE_Int length = 0;
      status = sane_read(handle, buffer.data(), static_cast<SANE_Int>(buffer.size()), &length);
      if (status == SANE_STATUS_EOF) break;
      if (status != SANE_STATUS_GOOD) {
        result = StatusFromSane(status);
        break;
      }
      if (length > 0 && !assembler.Add(buffer.data(), static_cast<std::size_t>(length))) {
        result = {twain::TWRC_FAILURE, twain::TWCC_LOWMEMORY,
                  "The scan cannot be taken: " + assembler.Error() + "."};
        break;
      }
      if (progress && assembler.RowsDone() != reported) {
        reported = assembler.RowsDone();
        if (!progress(reported, assembler.RowsExpected(), frame)) {
          result = StatusFromSane(SANE_STATUS_CANCELLED);
          break;
        }
      }
    }
    if (!result.Ok()) break;
    assembler.EndFrame();
    if (format.lastFrame) break;
    if (frame >= 2) {
      result = {twain::TWRC_FAILURE, twain::TWCC_OPERATIONERROR,
                "The scanner sends more frames than a colour picture has."};
      break;
    }
  }
  sane_cancel(handle);
  if (!result.Ok()) return result;
  if (!assembler.Finish(image)) {
    return {twain::TWRC_FAILURE, twain::TWCC_OPERATIONERROR,
            "The scan cannot be taken: " + assembler.Error() + "."};
  }
  image.resolutionX = resolution;
  image.resolutionY = resolution;
  return {};
}

}  // namespace veilora::scan
