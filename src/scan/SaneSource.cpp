#include "scan/SaneSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace veilora::scan {

using namespace twain;

namespace {

constexpr double kMillimetresPerInch = 25.4;
constexpr double kPreviewResolution = 30;
constexpr TW_UINT32 kPreferredBuffer = 64 * 1024;
// The source's default gamma: SANE devices deliver display-referred data.
constexpr double kDefaultGamma = 2.2;

std::size_t ItemSize(TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8: return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL: return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32: return 4;
    default: return 0;
  }
}

TW_UINT32 ItemBits(TW_UINT16 type, double value) {
  if (type == TWTY_FIX32) return Fix32Bits(ToFix32(value));
  return static_cast<TW_UINT32>(std::lround(value));
}

double ItemValue(TW_UINT16 type, TW_UINT32 bits) {
  switch (type) {
    case TWTY_FIX32: return FromFix32(Fix32FromBits(bits));
    case TWTY_INT8: return static_cast<TW_INT8>(bits & 0xff);
    case TWTY_INT16: return static_cast<TW_INT16>(bits & 0xffff);
    case TWTY_INT32: return static_cast<TW_INT32>(bits);
    case TWTY_UINT8: return bits & 0xff;
    case TWTY_UINT16:
    case TWTY_BOOL: return bits & 0xffff;
    default: return bits;
  }
}

void PutItem(std::uint8_t* where, TW_UINT16 type, double value) {
  const TW_UINT32 bits = ItemBits(type, value);
  switch (ItemSize(type)) {
    case 1: *where = static_cast<std::uint8_t>(bits); break;
    case 2: {
      const auto half = static_cast<std::uint16_t>(bits);
      std::memcpy(where, &half, 2);
      break;
    }
    default: std::memcpy(where, &bits, 4);
  }
}

TW_UINT32 GetItem(const std::uint8_t* where, TW_UINT16 type) {
  switch (ItemSize(type)) {
    case 1: return *where;
    case 2: {
      std::uint16_t half;
      std::memcpy(&half, where, 2);
      return half;
    }
    default: {
      TW_UINT32 word;
      std::memcpy(&word, where, 4);
      return word;
    }
  }
}

TW_UINT16 OneValue(TW_CAPABILITY& capability, TW_UINT16 type, double value) {
  capability.ConType = TWON_ONEVALUE;
  capability.hContainer = HandleAlloc(sizeof(TW_ONEVALUE));
  if (capability.hContainer == nullptr) return TWRC_FAILURE;
  auto* one = static_cast<TW_ONEVALUE*>(HandleLock(capability.hContainer));
  one->ItemType = type;
  one->Item = 0;
  PutItem(reinterpret_cast<std::uint8_t*>(&one->Item), type, value);
  return TWRC_SUCCESS;
}

TW_UINT16 Enumeration(TW_CAPABILITY& capability, TW_UINT16 type, const std::vector<double>& values,
                      std::size_t current) {
  capability.ConType = TWON_ENUMERATION;
  capability.hContainer =
      HandleAlloc(offsetof(TW_ENUMERATION, ItemList) + values.size() * ItemSize(type) + 1);
  if (capability.hContainer == nullptr) return TWRC_FAILURE;
  auto* list = static_cast<TW_ENUMERATION*>(HandleLock(capability.hContainer));
  list->ItemType = type;
  list->NumItems = static_cast<TW_UINT32>(values.size());
  list->CurrentIndex = static_cast<TW_UINT32>(current);
  list->DefaultIndex = static_cast<TW_UINT32>(current);
  auto* items = reinterpret_cast<std::uint8_t*>(list) + offsetof(TW_ENUMERATION, ItemList);
  for (std::size_t i = 0; i < values.size(); ++i) PutItem(items + i * ItemSize(type), type, values[i]);
  return TWRC_SUCCESS;
}

TW_UINT16 Range(TW_CAPABILITY& capability, TW_UINT16 type, double low, double high, double step,
                double current) {
  capability.ConType = TWON_RANGE;
  capability.hContainer = HandleAlloc(sizeof(TW_RANGE));
  if (capability.hContainer == nullptr) return TWRC_FAILURE;
  auto* range = static_cast<TW_RANGE*>(HandleLock(capability.hContainer));
  range->ItemType = type;
  range->MinValue = ItemBits(type, low);
  range->MaxValue = ItemBits(type, high);
  range->StepSize = ItemBits(type, step);
  range->DefaultValue = ItemBits(type, current);
  range->CurrentValue = ItemBits(type, current);
  return TWRC_SUCCESS;
}

// The value a container sent with MSG_SET makes current; false for a container that is cut short
// or of a kind the capability does not take.
bool CurrentOf(const TW_CAPABILITY& capability, double& value) {
  const void* memory = HandleLock(capability.hContainer);
  const std::size_t size = HandleSize(capability.hContainer);
  if (memory == nullptr) return false;
  switch (capability.ConType) {
    case TWON_ONEVALUE: {
      if (size < sizeof(TW_ONEVALUE)) return false;
      const auto* one = static_cast<const TW_ONEVALUE*>(memory);
      if (ItemSize(one->ItemType) == 0) return false;
      value =
          ItemValue(one->ItemType, GetItem(reinterpret_cast<const std::uint8_t*>(&one->Item), one->ItemType));
      return true;
    }
    case TWON_ENUMERATION: {
      if (size < offsetof(TW_ENUMERATION, ItemList)) return false;
      const auto* list = static_cast<const TW_ENUMERATION*>(memory);
      const std::size_t itemSize = ItemSize(list->ItemType);
      if (itemSize == 0 || list->CurrentIndex >= list->NumItems ||
          offsetof(TW_ENUMERATION, ItemList) + (std::size_t{list->CurrentIndex} + 1) * itemSize > size) {
        return false;
      }
      const auto* items = reinterpret_cast<const std::uint8_t*>(list) + offsetof(TW_ENUMERATION, ItemList);
      value = ItemValue(list->ItemType, GetItem(items + list->CurrentIndex * itemSize, list->ItemType));
      return true;
    }
    case TWON_RANGE: {
      if (size < sizeof(TW_RANGE)) return false;
      const auto* range = static_cast<const TW_RANGE*>(memory);
      if (ItemSize(range->ItemType) == 0) return false;
      value = ItemValue(range->ItemType, range->CurrentValue);
      return true;
    }
    default: return false;
  }
}

TW_UINT16 PixelTypeOf(TScanMode mode) {
  return mode == TScanMode::BlackWhite ? TWPT_BW : (mode == TScanMode::Grey ? TWPT_GRAY : TWPT_RGB);
}

}  // namespace

TSaneSource::TSaneSource(const TDeviceInfo& device, const TW_IDENTITY& identity)
    : device_(device), identity_(identity) {}

TSaneSource::~TSaneSource() {
  JoinScan();
  dialog_.reset();
}

bool TSaneSource::Open() {
  const TScanStatus status = sane_.Open(device_.name);
  if (!status.Ok()) {
    condition_ = status.conditionCode;
    return false;
  }
  options_ = sane_.Options();
  settings_.mode = options_.mode;
  settings_.resolution = options_.resolution;
  settings_.setArea = false;
  settings_.area = options_.area;
  state_ = 4;
  return true;
}

TW_UINT16 TSaneSource::Fail(TW_UINT16 condition, TW_UINT16 code) {
  condition_ = condition;
  return code;
}

double TSaneSource::UnitsPerMillimetre() const {
  return units_ == TWUN_CENTIMETERS ? 0.1 : 1.0 / kMillimetresPerInch;
}

void TSaneSource::Post(TW_UINT16 message) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(message);
  }
  TwainHost().Wake();
}

void TSaneSource::JoinScan() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
  cancel_ = false;
}

TDeviceOptions TSaneSource::Options() {
  if (scanning_) return options_;
  options_ = sane_.Options();
  return options_;
}

double TSaneSource::PreviewResolution() {
  const TDeviceOptions options = Options();
  if (!options.resolutionList.empty()) {
    std::vector<double> sorted = options.resolutionList;
    std::sort(sorted.begin(), sorted.end());
    for (double value : sorted) {
      if (value >= kPreviewResolution) return value;
    }
    return sorted.back();
  }
  return std::clamp(kPreviewResolution, options.resolutionMin,
                    std::max(options.resolutionMin, options.resolutionMax));
}

void TSaneSource::StartScan(const TScanSettings& settings, TScanProgress progress, TScanDone done) {
  JoinScan();
  scanning_ = true;
  worker_ = std::thread([this, settings, progress = std::move(progress), done = std::move(done)] {
    TScanStatus status = sane_.Apply(settings);
    TScanImage image;
    if (status.Ok()) status = sane_.Scan(image, progress, &cancel_);
    scanning_ = false;
    done(status, std::move(image));
  });
}

void TSaneSource::ImageReady(TScanImage image) {
  image_ = std::move(image);
  imageReady_ = true;
  nextRow_ = 0;
  Post(MSG_XFERREADY);
}

void TSaneSource::UserCancelled() {
  closeCondition_ = TWCC_SUCCESS;
  Post(MSG_CLOSEDSREQ);
}

TW_UINT16 TSaneSource::Entry(TW_UINT32 dataGroup, TW_UINT16 dat, TW_UINT16 message, TW_MEMREF data) {
  if (data == nullptr) return Fail(TWCC_BADVALUE);
  if (dataGroup == DG_CONTROL) {
    switch (dat) {
      case DAT_CAPABILITY: return Capability(message, *static_cast<TW_CAPABILITY*>(data));
      case DAT_USERINTERFACE: return UserInterface(message, *static_cast<TW_USERINTERFACE*>(data));
      case DAT_EVENT:
        if (message != MSG_PROCESSEVENT) return Fail(TWCC_BADPROTOCOL);
        return ProcessEvent(*static_cast<TW_EVENT*>(data));
      case DAT_PENDINGXFERS: return PendingTransfers(message, *static_cast<TW_PENDINGXFERS*>(data));
      case DAT_SETUPMEMXFER:
        if (message != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        return SetupMemory(*static_cast<TW_SETUPMEMXFER*>(data));
      case DAT_STATUS: {
        if (message != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        auto& status = *static_cast<TW_STATUS*>(data);
        status.ConditionCode = condition_;
        status.Reserved = 0;
        condition_ = TWCC_SUCCESS;
        return TWRC_SUCCESS;
      }
      default: return Fail(TWCC_BADPROTOCOL);
    }
  }
  if (dataGroup == DG_IMAGE) {
    switch (dat) {
      case DAT_IMAGEINFO:
        if (message != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        return ImageInfo(*static_cast<TW_IMAGEINFO*>(data));
      case DAT_IMAGELAYOUT: return ImageLayout(message, *static_cast<TW_IMAGELAYOUT*>(data));
      case DAT_IMAGENATIVEXFER:
        if (message != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        return NativeTransfer(*static_cast<TW_HANDLE*>(data));
      case DAT_IMAGEMEMXFER:
        if (message != MSG_GET) return Fail(TWCC_BADPROTOCOL);
        return MemoryTransfer(*static_cast<TW_IMAGEMEMXFER*>(data));
      default: return Fail(TWCC_BADPROTOCOL);
    }
  }
  return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 TSaneSource::Capability(TW_UINT16 message, TW_CAPABILITY& capability) {
  if (message == MSG_SET) {
    if (state_ != 4) return Fail(TWCC_SEQERROR);
    return SetCapability(capability);
  }
  if (message == MSG_RESET) {
    if (state_ != 4) return Fail(TWCC_SEQERROR);
  } else if (message != MSG_GET && message != MSG_GETCURRENT && message != MSG_GETDEFAULT) {
    return Fail(TWCC_BADPROTOCOL);
  }
  const bool listing = message == MSG_GET;
  capability.hContainer = nullptr;
  switch (capability.Cap) {
    case ICAP_UNITS:
      if (!listing) return OneValue(capability, TWTY_UINT16, units_);
      return Enumeration(capability, TWTY_UINT16, {TWUN_INCHES, TWUN_CENTIMETERS},
                         units_ == TWUN_INCHES ? 0 : 1);
    case ICAP_PIXELFLAVOR: return OneValue(capability, TWTY_UINT16, TWPF_CHOCOLATE);
    case ICAP_PLANARCHUNKY: return OneValue(capability, TWTY_UINT16, TWPC_CHUNKY);
    case ICAP_ORIENTATION: return OneValue(capability, TWTY_UINT16, TWOR_ROT0);
    case ICAP_XSCALING:
    case ICAP_YSCALING: return OneValue(capability, TWTY_FIX32, 1.0);
    case ICAP_GAMMA: return OneValue(capability, TWTY_FIX32, kDefaultGamma);
    case CAP_FEEDERENABLED: return OneValue(capability, TWTY_BOOL, 0);
    case CAP_INDICATORS: return OneValue(capability, TWTY_BOOL, indicators_ ? 1 : 0);
    case ICAP_PHYSICALWIDTH:
      return OneValue(capability, TWTY_FIX32,
                      (options_.maxArea.right - options_.maxArea.left) * UnitsPerMillimetre());
    case ICAP_PHYSICALHEIGHT:
      return OneValue(capability, TWTY_FIX32,
                      (options_.maxArea.bottom - options_.maxArea.top) * UnitsPerMillimetre());
    case ICAP_XFERMECH:
      if (!listing) return OneValue(capability, TWTY_UINT16, transferMechanism_);
      return Enumeration(capability, TWTY_UINT16, {TWSX_NATIVE, TWSX_MEMORY},
                         transferMechanism_ == TWSX_NATIVE ? 0 : 1);
    case ICAP_PIXELTYPE: {
      if (!listing) return OneValue(capability, TWTY_UINT16, PixelTypeOf(settings_.mode));
      std::vector<double> types;
      std::size_t current = 0;
      for (TScanMode mode : options_.modes) {
        if (mode == settings_.mode) current = types.size();
        types.push_back(PixelTypeOf(mode));
      }
      return Enumeration(capability, TWTY_UINT16, types, current);
    }
    case ICAP_BITDEPTH:
      return OneValue(
          capability, TWTY_UINT16,
          settings_.mode == TScanMode::BlackWhite ? 1 : (settings_.mode == TScanMode::Grey ? 8 : 24));
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
      if (!listing || options_.resolutionMax <= 0)
        return OneValue(capability, TWTY_FIX32, settings_.resolution);
      if (!options_.resolutionList.empty()) {
        const auto nearest = std::min_element(
            options_.resolutionList.begin(), options_.resolutionList.end(), [this](double a, double b) {
              return std::fabs(a - settings_.resolution) < std::fabs(b - settings_.resolution);
            });
        return Enumeration(capability, TWTY_FIX32, options_.resolutionList,
                           static_cast<std::size_t>(nearest - options_.resolutionList.begin()));
      }
      return Range(capability, TWTY_FIX32, options_.resolutionMin, options_.resolutionMax,
                   options_.resolutionStep > 0 ? options_.resolutionStep : 1, settings_.resolution);
    default: return Fail(TWCC_CAPUNSUPPORTED);
  }
}

TW_UINT16 TSaneSource::SetCapability(TW_CAPABILITY& capability) {
  double value = 0;
  if (!CurrentOf(capability, value)) return Fail(TWCC_BADVALUE);
  const long whole = std::lround(value);
  switch (capability.Cap) {
    case ICAP_UNITS:
      if (whole != TWUN_INCHES && whole != TWUN_CENTIMETERS) return Fail(TWCC_BADVALUE);
      units_ = static_cast<TW_UINT16>(whole);
      return TWRC_SUCCESS;
    case ICAP_PIXELFLAVOR:
    case ICAP_PLANARCHUNKY:
    case ICAP_ORIENTATION:
    case CAP_FEEDERENABLED: return whole == 0 ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    case ICAP_XSCALING:
    case ICAP_YSCALING: return std::fabs(value - 1.0) < 1e-4 ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    case CAP_INDICATORS: indicators_ = whole != 0; return TWRC_SUCCESS;
    case ICAP_XFERMECH:
      if (whole != TWSX_NATIVE && whole != TWSX_MEMORY) return Fail(TWCC_BADVALUE);
      transferMechanism_ = static_cast<TW_UINT16>(whole);
      return TWRC_SUCCESS;
    case ICAP_PIXELTYPE:
      for (TScanMode mode : options_.modes) {
        if (PixelTypeOf(mode) == whole) {
          settings_.mode = mode;
          return TWRC_SUCCESS;
        }
      }
      return Fail(TWCC_BADVALUE);
    case ICAP_BITDEPTH: {
      const long wanted =
          settings_.mode == TScanMode::BlackWhite ? 1 : (settings_.mode == TScanMode::Grey ? 8 : 24);
      return whole == wanted ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    }
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
      if (value <= 0) return Fail(TWCC_BADVALUE);
      // SANE devices have one resolution for both directions.
      settings_.resolution = value;
      return TWRC_SUCCESS;
    default: return Fail(TWCC_CAPUNSUPPORTED);
  }
}

TW_UINT16 TSaneSource::ImageLayout(TW_UINT16 message, TW_IMAGELAYOUT& layout) {
  const double scale = UnitsPerMillimetre();
  if (message == MSG_SET) {
    if (state_ != 4) return Fail(TWCC_SEQERROR);
    if (!options_.hasArea) return Fail(TWCC_BADVALUE);
    const double left = FromFix32(layout.Frame.Left) / scale;
    const double top = FromFix32(layout.Frame.Top) / scale;
    const double right = FromFix32(layout.Frame.Right) / scale;
    const double bottom = FromFix32(layout.Frame.Bottom) / scale;
    // An empty frame asks for the whole bed.
    if (right <= left || bottom <= top) {
      settings_.area = options_.maxArea;
    } else {
      settings_.area = {std::clamp(left, options_.maxArea.left, options_.maxArea.right),
                        std::clamp(top, options_.maxArea.top, options_.maxArea.bottom),
                        std::clamp(right, options_.maxArea.left, options_.maxArea.right),
                        std::clamp(bottom, options_.maxArea.top, options_.maxArea.bottom)};
    }
    settings_.setArea = true;
    return TWRC_SUCCESS;
  }
  if (message != MSG_GET && message != MSG_GETDEFAULT && message != MSG_RESET) return Fail(TWCC_BADPROTOCOL);
  if (message == MSG_RESET) {
    settings_.area = options_.maxArea;
    settings_.setArea = options_.hasArea;
  }
  const TScanArea& area = message == MSG_GETDEFAULT ? options_.maxArea : settings_.area;
  layout.Frame = {ToFix32(area.left * scale), ToFix32(area.top * scale), ToFix32(area.right * scale),
                  ToFix32(area.bottom * scale)};
  layout.DocumentNumber = 1;
  layout.PageNumber = 1;
  layout.FrameNumber = 1;
  return TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::UserInterface(TW_UINT16 message, TW_USERINTERFACE& ui) {
  if (message == MSG_ENABLEDS) {
    if (state_ != 4) return Fail(TWCC_SEQERROR);
    state_ = 5;
    window_ = ui.hParent;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      events_.clear();
    }
    imageReady_ = false;
    closeCondition_ = TWCC_SUCCESS;
    showUI_ = ui.ShowUI != 0;
    if (showUI_) dialog_ = TwainHost().ShowSourceDialog(*this, window_);
    if (dialog_ == nullptr) {
      // No dialog: scan at once with what the application negotiated.
      showUI_ = false;
      const bool indicators = indicators_;
      StartScan(
          settings_,
          [indicators](std::int32_t rows, std::int32_t expected, int) {
            return !indicators || TwainHost().ScanProgress(rows, expected);
          },
          [this](const TScanStatus& status, TScanImage image) {
            if (status.Ok()) {
              ImageReady(std::move(image));
            } else {
              closeCondition_ = status.conditionCode;
              Post(MSG_CLOSEDSREQ);
            }
          });
    }
    return TWRC_SUCCESS;
  }
  if (message == MSG_DISABLEDS) {
    if (state_ != 5) return Fail(TWCC_SEQERROR);
    // The scanning thread reports to the dialog: it ends before the dialog goes.
    JoinScan();
    dialog_.reset();
    state_ = 4;
    return TWRC_SUCCESS;
  }
  return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 TSaneSource::ProcessEvent(TW_EVENT& event) {
  event.TWMessage = MSG_NULL;
  if (state_ < 5) return Fail(TWCC_SEQERROR);
  TW_UINT16 message = MSG_NULL;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!events_.empty() && state_ == 5) {
      message = events_.front();
      events_.pop_front();
    }
  }
  if (message == MSG_NULL) return TWRC_NOTDSEVENT;
  if (message == MSG_XFERREADY) state_ = 6;
  // The reason for a close request is what DAT_STATUS tells next.
  if (message == MSG_CLOSEDSREQ) condition_ = closeCondition_;
  event.TWMessage = message;
  return TWRC_DSEVENT;
}

TW_UINT16 TSaneSource::ImageInfo(TW_IMAGEINFO& info) {
  if (state_ != 6 || !imageReady_) return Fail(TWCC_SEQERROR);
  std::memset(&info, 0, sizeof(info));
  info.XResolution = ToFix32(image_.resolutionX);
  info.YResolution = ToFix32(image_.resolutionY);
  info.ImageWidth = image_.width;
  info.ImageLength = image_.height;
  info.SamplesPerPixel = static_cast<TW_INT16>(image_.bitsPerPixel == 24 ? 3 : 1);
  const auto sampleBits = static_cast<TW_INT16>(image_.bitsPerPixel == 1 ? 1 : 8);
  for (int i = 0; i < info.SamplesPerPixel; ++i) info.BitsPerSample[i] = sampleBits;
  info.BitsPerPixel = static_cast<TW_INT16>(image_.bitsPerPixel);
  info.Planar = 0;
  info.PixelType = static_cast<TW_INT16>(
      image_.bitsPerPixel == 1 ? TWPT_BW : (image_.bitsPerPixel == 8 ? TWPT_GRAY : TWPT_RGB));
  info.Compression = TWCP_NONE;
  return TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::NativeTransfer(TW_HANDLE& handle) {
  handle = nullptr;
  if (state_ != 6 || !imageReady_) return Fail(TWCC_SEQERROR);
  // A packed device-independent bitmap: 40-byte header, colour table, rows bottom-up padded to
  // 4 bytes, pixels blue-green-red.
  const int bits = image_.bitsPerPixel;
  const std::size_t colours = bits == 1 ? 2 : (bits == 8 ? 256 : 0);
  const std::size_t stride = (static_cast<std::size_t>(image_.width) * bits + 31) / 32 * 4;
  const std::size_t size = 40 + colours * 4 + stride * static_cast<std::size_t>(image_.height);
  handle = HandleAlloc(size);
  if (handle == nullptr) return Fail(TWCC_LOWMEMORY);
  auto* block = static_cast<std::uint8_t*>(HandleLock(handle));
  const auto put32 = [block](std::size_t at, std::uint32_t value) { std::memcpy(block + at, &value, 4); };
  const auto put16 = [block](std::size_t at, std::uint16_t value) { std::memcpy(block + at, &value, 2); };
  put32(0, 40);
  put32(4, static_cast<std::uint32_t>(image_.width));
  put32(8, static_cast<std::uint32_t>(image_.height));
  put16(12, 1);
  put16(14, static_cast<std::uint16_t>(bits));
  put32(20, static_cast<std::uint32_t>(stride * static_cast<std::size_t>(image_.height)));
  const auto dpm = static_cast<std::uint32_t>(std::lround(image_.resolutionX / kMillimetresPerInch * 1000));
  put32(24, dpm);
  put32(28, static_cast<std::uint32_t>(std::lround(image_.resolutionY / kMillimetresPerInch * 1000)));
  put32(32, static_cast<std::uint32_t>(colours));
  for (std::size_t i = 0; i < colours; ++i) {
    // 1 bit: 0 black, 1 white; 8 bits: a grey ramp.
    const auto grey = static_cast<std::uint8_t>(bits == 1 ? (i == 0 ? 0 : 255) : i);
    block[40 + i * 4] = grey;
    block[40 + i * 4 + 1] = grey;
    block[40 + i * 4 + 2] = grey;
  }
  std::uint8_t* rows = block + 40 + colours * 4;
  const std::size_t rowBytes = image_.RowBytes();
  for (int y = 0; y < image_.height; ++y) {
    const std::uint8_t* from = image_.data.data() + static_cast<std::size_t>(y) * rowBytes;
    std::uint8_t* to = rows + static_cast<std::size_t>(image_.height - 1 - y) * stride;
    if (bits == 24) {
      for (int x = 0; x < image_.width; ++x) {
        to[x * 3] = from[x * 3 + 2];
        to[x * 3 + 1] = from[x * 3 + 1];
        to[x * 3 + 2] = from[x * 3];
      }
    } else {
      std::memcpy(to, from, rowBytes);
    }
  }
  state_ = 7;
  return TWRC_XFERDONE;
}

TW_UINT16 TSaneSource::SetupMemory(TW_SETUPMEMXFER& setup) {
  if (state_ < 4) return Fail(TWCC_SEQERROR);
  const auto rowBytes = static_cast<TW_UINT32>(
      imageReady_ ? image_.RowBytes() : (static_cast<std::size_t>(std::max(1, image_.width)) * 24 + 7) / 8);
  setup.MinBufSize = std::max<TW_UINT32>(rowBytes, 1);
  setup.MaxBufSize = std::max<TW_UINT32>(rowBytes, 16 * kPreferredBuffer);
  setup.Preferred =
      std::max<TW_UINT32>(rowBytes, kPreferredBuffer / std::max<TW_UINT32>(rowBytes, 1) * rowBytes);
  return TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::MemoryTransfer(TW_IMAGEMEMXFER& transfer) {
  if ((state_ != 6 && state_ != 7) || !imageReady_) return Fail(TWCC_SEQERROR);
  const std::size_t rowBytes = image_.RowBytes();
  auto* buffer = static_cast<std::uint8_t*>((transfer.Memory.Flags & TWMF_HANDLE) != 0
                                                ? HandleLock(transfer.Memory.TheMem)
                                                : transfer.Memory.TheMem);
  std::size_t length = transfer.Memory.Length;
  if ((transfer.Memory.Flags & TWMF_HANDLE) != 0)
    length = std::min(length, HandleSize(transfer.Memory.TheMem));
  if (buffer == nullptr || length < rowBytes) return Fail(TWCC_BADVALUE);
  const std::int32_t rows =
      std::min<std::int32_t>(image_.height - nextRow_,
                             static_cast<std::int32_t>(std::min<std::size_t>(length / rowBytes, 0x7fffffff)));
  std::memcpy(buffer, image_.data.data() + static_cast<std::size_t>(nextRow_) * rowBytes,
              static_cast<std::size_t>(rows) * rowBytes);
  transfer.Compression = TWCP_NONE;
  transfer.BytesPerRow = static_cast<TW_UINT32>(rowBytes);
  transfer.Columns = static_cast<TW_UINT32>(image_.width);
  transfer.Rows = static_cast<TW_UINT32>(rows);
  transfer.XOffset = 0;
  transfer.YOffset = static_cast<TW_UINT32>(nextRow_);
  transfer.BytesWritten = static_cast<TW_UINT32>(static_cast<std::size_t>(rows) * rowBytes);
  nextRow_ += rows;
  state_ = 7;
  return nextRow_ >= image_.height ? TWRC_XFERDONE : TWRC_SUCCESS;
}

TW_UINT16 TSaneSource::PendingTransfers(TW_UINT16 message, TW_PENDINGXFERS& pending) {
  pending.Reserved = 0;
  if (message == MSG_GET) {
    pending.Count = state_ >= 6 ? 1 : 0;
    return TWRC_SUCCESS;
  }
  if (message != MSG_ENDXFER && message != MSG_RESET) return Fail(TWCC_BADPROTOCOL);
  if (message == MSG_ENDXFER ? state_ != 6 && state_ != 7 : state_ != 6 && state_ != 7)
    return Fail(TWCC_SEQERROR);
  // One picture per scan: nothing is left pending afterwards.
  pending.Count = 0;
  imageReady_ = false;
  image_ = {};
  state_ = 5;
  // Without a dialog there is nobody to ask for another scan.
  if (!showUI_) Post(MSG_CLOSEDSREQ);
  return TWRC_SUCCESS;
}

}  // namespace veilora::scan
