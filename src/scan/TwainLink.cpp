#include "scan/TwainLink.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <exception>

#include "image/PackedDib.h"
#include "io/ImageIO.h"
#include "scan/TwainDsm.h"
#include "scan/TwainHost.h"

namespace veilora {

using namespace twain;

namespace {

// How long one turn of the message loop waits for an event before it asks the source again.
constexpr int kEventWait = 50;

TTwainManagerLoader& ManagerLoader() {
  static TTwainManagerLoader loader = [] { return &twain::DSM_Entry; };
  return loader;
}

class TConnection {
 public:
  TConnection(TTwainParams& params, void* window) : params_(params) { link_.Window = window; }
  ~TConnection() { Close(); }
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  TTwainConnection& Link() { return link_; }

  TW_UINT16 Call(TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 message,
                 TW_MEMREF data) {
    link_.ReturnCode = link_.Entry(&link_.AppId, destination, group, dat, message, data);
    return link_.ReturnCode;
  }
  TW_UINT16 Source(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 message, TW_MEMREF data) {
    return Call(&link_.SourceId, group, dat, message, data);
  }

  // Keeps the condition code of the failure just met.
  void KeepCondition(bool fromSource) {
    const TW_UINT16 code = link_.ReturnCode;
    TW_STATUS status{};
    if (link_.Entry(&link_.AppId, fromSource ? &link_.SourceId : nullptr, DG_CONTROL, DAT_STATUS, MSG_GET,
                    &status) == TWRC_SUCCESS) {
      link_.ConditionCode = status.ConditionCode;
    }
    link_.ReturnCode = code;
  }

  // States 1 to 3: load and open the manager.
  bool OpenManager() {
    link_.AppId = {};
    link_.AppId.Version.MajorNum = 1;
    link_.AppId.Version.MinorNum = 0;
    link_.AppId.Version.Language = TWLG_USA;
    link_.AppId.Version.Country = TWCY_USA;
    SetStr32(link_.AppId.Version.Info, params_.VersionInfo.c_str());
    link_.AppId.ProtocolMajor = 1;
    link_.AppId.ProtocolMinor = 6;
    link_.AppId.SupportedGroups = DG_CONTROL | DG_IMAGE;
    SetStr32(link_.AppId.Manufacturer, params_.Manufacturer.c_str());
    SetStr32(link_.AppId.ProductFamily, params_.ProductFamily.c_str());
    SetStr32(link_.AppId.ProductName, params_.ProductName.c_str());
    link_.Entry = ManagerLoader() ? ManagerLoader()() : nullptr;
    if (link_.Entry == nullptr) {
      link_.ReturnCode = TWRC_FAILURE;
      return false;
    }
    link_.State = 2;
    if (Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &link_.Window) != TWRC_SUCCESS) {
      KeepCondition(false);
      return false;
    }
    link_.State = 3;
    return true;
  }

  // Every state back to 1, in reverse order.
  void Close() {
    const TW_UINT16 code = link_.ReturnCode;
    if (link_.State >= 7) {
      TW_PENDINGXFERS pending{};
      Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
      if (pending.Count != 0) Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
      link_.State = 5;
    }
    if (link_.State == 6) {
      TW_PENDINGXFERS pending{};
      Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
      link_.State = 5;
    }
    if (link_.State == 5) {
      scan::TwainHost().EnableWindow(link_.Window, true);
      Source(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &link_.UserInterface);
      link_.State = 4;
    }
    if (link_.State == 4) {
      Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &link_.SourceId);
      link_.State = 3;
    }
    if (link_.State == 3) {
      Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &link_.Window);
      link_.State = 2;
    }
    link_.State = 1;
    link_.ReturnCode = code;
  }

 private:
  TTwainParams& params_;
  TTwainConnection link_;
};

// ---- capability containers

std::size_t ItemSize(TW_UINT16 type) {
  return type == TWTY_FIX32 || type == TWTY_UINT32 || type == TWTY_INT32 ? 4 : 2;
}

TW_UINT32 ItemBits(TW_UINT16 type, double value) {
  return type == TWTY_FIX32 ? Fix32Bits(ToFix32(value)) : static_cast<TW_UINT32>(std::lround(value));
}

void PutItem(std::uint8_t* where, TW_UINT16 type, double value) {
  const TW_UINT32 bits = ItemBits(type, value);
  if (ItemSize(type) == 2) {
    const auto half = static_cast<std::uint16_t>(bits);
    std::memcpy(where, &half, 2);
  } else {
    std::memcpy(where, &bits, 4);
  }
}

TW_UINT16 SetOneValue(TConnection& connection, TW_UINT16 cap, TW_UINT16 type, double value) {
  TW_CAPABILITY capability{cap, TWON_ONEVALUE, HandleAlloc(sizeof(TW_ONEVALUE))};
  if (capability.hContainer == nullptr) return TWRC_FAILURE;
  auto* one = static_cast<TW_ONEVALUE*>(HandleLock(capability.hContainer));
  one->ItemType = type;
  one->Item = 0;
  PutItem(reinterpret_cast<std::uint8_t*>(&one->Item), type, value);
  const TW_UINT16 code = connection.Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
  HandleFree(capability.hContainer);
  return code;
}

template <typename T>
TW_UINT16 SendList(TConnection& connection, TW_UINT16 cap, TW_UINT16 type, const TTwainList<T>& list) {
  if (list.RangeChanged) {
    TW_CAPABILITY capability{cap, TWON_RANGE, HandleAlloc(sizeof(TW_RANGE))};
    if (capability.hContainer == nullptr) return TWRC_FAILURE;
    auto* range = static_cast<TW_RANGE*>(HandleLock(capability.hContainer));
    range->ItemType = type;
    range->MinValue = ItemBits(type, static_cast<double>(list.RangeMin));
    range->MaxValue = ItemBits(type, static_cast<double>(list.RangeMax));
    range->StepSize = ItemBits(type, static_cast<double>(list.RangeStep));
    range->DefaultValue = ItemBits(type, static_cast<double>(list.Current));
    range->CurrentValue = ItemBits(type, static_cast<double>(list.Current));
    const TW_UINT16 code = connection.Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
    HandleFree(capability.hContainer);
    return code;
  }
  if (list.ValuesChanged && !list.Values.empty()) {
    const std::size_t size = offsetof(TW_ENUMERATION, ItemList) + list.Values.size() * ItemSize(type);
    TW_CAPABILITY capability{cap, TWON_ENUMERATION, HandleAlloc(size)};
    if (capability.hContainer == nullptr) return TWRC_FAILURE;
    auto* enumeration = static_cast<TW_ENUMERATION*>(HandleLock(capability.hContainer));
    enumeration->ItemType = type;
    enumeration->NumItems = static_cast<TW_UINT32>(list.Values.size());
    const auto current = std::find(list.Values.begin(), list.Values.end(), list.Current);
    enumeration->CurrentIndex =
        current == list.Values.end() ? 0 : static_cast<TW_UINT32>(current - list.Values.begin());
    enumeration->DefaultIndex = enumeration->CurrentIndex;
    auto* items = reinterpret_cast<std::uint8_t*>(enumeration) + offsetof(TW_ENUMERATION, ItemList);
    for (std::size_t i = 0; i < list.Values.size(); ++i) {
      PutItem(items + i * ItemSize(type), type, static_cast<double>(list.Values[i]));
    }
    const TW_UINT16 code = connection.Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
    HandleFree(capability.hContainer);
    return code;
  }
  if (list.CurrentChanged) return SetOneValue(connection, cap, type, static_cast<double>(list.Current));
  return TWRC_SUCCESS;
}

// Reads a one-value capability as a number; false when the source has none.
bool ReadOneValue(TConnection& connection, TW_UINT16 cap, double& value) {
  TW_CAPABILITY capability{cap, TWON_ONEVALUE, nullptr};
  if (connection.Source(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &capability) != TWRC_SUCCESS)
    return false;
  bool found = false;
  if (capability.ConType == TWON_ONEVALUE && HandleSize(capability.hContainer) >= sizeof(TW_ONEVALUE)) {
    const auto* one = static_cast<const TW_ONEVALUE*>(HandleLock(capability.hContainer));
    value = one->ItemType == TWTY_FIX32 ? FromFix32(Fix32FromBits(one->Item))
                                        : static_cast<double>(one->Item & 0xffff);
    found = true;
  }
  HandleFree(capability.hContainer);
  return found;
}

// Whether an enumeration or one-value answer for `cap` offers `wanted`.
bool Offers(TConnection& connection, TW_UINT16 cap, TW_UINT16 wanted) {
  TW_CAPABILITY capability{cap, TWON_ONEVALUE, nullptr};
  if (connection.Source(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability) != TWRC_SUCCESS) return false;
  bool offered = false;
  const std::size_t size = HandleSize(capability.hContainer);
  const auto* memory = static_cast<const std::uint8_t*>(HandleLock(capability.hContainer));
  if (capability.ConType == TWON_ENUMERATION && size >= offsetof(TW_ENUMERATION, ItemList)) {
    const auto* list = reinterpret_cast<const TW_ENUMERATION*>(memory);
    const std::size_t itemSize = ItemSize(list->ItemType);
    for (TW_UINT32 i = 0;
         i < list->NumItems && offsetof(TW_ENUMERATION, ItemList) + (i + 1) * itemSize <= size; ++i) {
      std::uint16_t item = 0;
      std::memcpy(&item, memory + offsetof(TW_ENUMERATION, ItemList) + i * itemSize, 2);
      offered = offered || item == wanted;
    }
  } else if (capability.ConType == TWON_ONEVALUE && size >= sizeof(TW_ONEVALUE)) {
    offered = (reinterpret_cast<const TW_ONEVALUE*>(memory)->Item & 0xffff) == wanted;
  }
  HandleFree(capability.hContainer);
  return offered;
}

// ICAP_UNITS: read, make the first entry (inches) current, write back.
void NegotiateUnits(TConnection& connection) {
  TW_CAPABILITY capability{ICAP_UNITS, TWON_ENUMERATION, nullptr};
  if (connection.Source(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability) != TWRC_SUCCESS) return;
  if (capability.ConType == TWON_ENUMERATION &&
      HandleSize(capability.hContainer) >= offsetof(TW_ENUMERATION, ItemList)) {
    static_cast<TW_ENUMERATION*>(HandleLock(capability.hContainer))->CurrentIndex = 0;
    connection.Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
  } else {
    SetOneValue(connection, ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
  }
  HandleFree(capability.hContainer);
}

void Negotiate(TConnection& connection, TTwainParams& params) {
  TTwainConnection& link = connection.Link();
  NegotiateUnits(connection);
  SetOneValue(connection, ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE);
  SendList(connection, ICAP_XRESOLUTION, TWTY_FIX32, params.TwainResolutionX);
  SendList(connection, ICAP_YRESOLUTION, TWTY_FIX32, params.TwainResolutionY);
  SendList(connection, ICAP_XSCALING, TWTY_FIX32, params.TwainScalingX);
  SendList(connection, ICAP_YSCALING, TWTY_FIX32, params.TwainScalingY);
  if (params.TwainPixelType.Changed()) {
    const std::int32_t type = std::clamp(params.TwainPixelType.Current, 0, 2);
    SetOneValue(connection, ICAP_PIXELTYPE, TWTY_UINT16, type);
    if (type == TWPT_GRAY) SetOneValue(connection, ICAP_BITDEPTH, TWTY_UINT16, 8);
    if (type == TWPT_RGB) {
      SetOneValue(connection, ICAP_BITDEPTH, TWTY_UINT16, 24);
      SetOneValue(connection, ICAP_PLANARCHUNKY, TWTY_UINT16, TWPC_CHUNKY);
    }
  }
  link.MemoryTransfer = false;
  if (params.TwainMemoryTransfer && Offers(connection, ICAP_XFERMECH, TWSX_MEMORY)) {
    link.MemoryTransfer = SetOneValue(connection, ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY) == TWRC_SUCCESS;
  }
  SetOneValue(connection, CAP_FEEDERENABLED, TWTY_BOOL, params.TwainFeeder ? 1 : 0);
  SendList(connection, ICAP_ORIENTATION, TWTY_UINT16, params.TwainOrientation);
  SetOneValue(connection, CAP_INDICATORS, TWTY_BOOL, params.TwainIndicators ? 1 : 0);
  double value = 0;
  if (ReadOneValue(connection, ICAP_GAMMA, value)) params.TwainGamma = value;
  if (ReadOneValue(connection, ICAP_PHYSICALWIDTH, value)) params.TwainPhysicalWidth = value;
  if (ReadOneValue(connection, ICAP_PHYSICALHEIGHT, value)) params.TwainPhysicalHeight = value;
  if (!params.TwainFrame.Empty()) {
    TW_IMAGELAYOUT layout{};
    layout.Frame = {ToFix32(params.TwainFrame.Left), ToFix32(params.TwainFrame.Top),
                    ToFix32(params.TwainFrame.Right), ToFix32(params.TwainFrame.Bottom)};
    connection.Source(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
  }
  link.ReturnCode = TWRC_SUCCESS;
}

// Copies one memory strip into the bitmap at its offsets, clipped to the bitmap.
void CopyStrip(const TW_IMAGEMEMXFER& strip, const std::uint8_t* data, std::size_t size, int bitsPerPixel,
               TBitmap& bitmap) {
  const std::size_t bytesPerRow = strip.BytesPerRow;
  if (bytesPerRow == 0) return;
  const std::int64_t rows = std::min<std::int64_t>(strip.Rows, static_cast<std::int64_t>(size / bytesPerRow));
  const std::int64_t columns = std::min<std::int64_t>(
      {std::int64_t{strip.Columns}, std::int64_t{bitmap.Width()} - strip.XOffset,
       static_cast<std::int64_t>(bytesPerRow * 8 / static_cast<std::size_t>(bitsPerPixel))});
  for (std::int64_t r = 0; r < rows; ++r) {
    const std::int64_t y = std::int64_t{strip.YOffset} + r;
    if (y >= bitmap.Height()) break;
    const std::uint8_t* from = data + static_cast<std::size_t>(r) * bytesPerRow;
    std::uint8_t* to = bitmap.ScanLine(static_cast<int>(y));
    for (std::int64_t c = 0; c < columns; ++c) {
      const std::int64_t x = std::int64_t{strip.XOffset} + c;
      if (bitsPerPixel == 24) {
        to[x * 3] = from[c * 3 + 2];
        to[x * 3 + 1] = from[c * 3 + 1];
        to[x * 3 + 2] = from[c * 3];
      } else if (bitsPerPixel == 8) {
        to[x * 3] = to[x * 3 + 1] = to[x * 3 + 2] = from[c];
      } else if (bitmap.PixelFormat() == pf1bit) {
        const bool white = (from[c / 8] & (0x80 >> (c % 8))) != 0;
        const auto mask = static_cast<std::uint8_t>(0x80 >> (x % 8));
        to[x / 8] = static_cast<std::uint8_t>(white ? to[x / 8] | mask : to[x / 8] & ~mask);
      }
    }
  }
}

// One transfer, states 6 and 7.
void Transfer(TConnection& connection, TImageIO& io) {
  TTwainConnection& link = connection.Link();
  TW_IMAGEINFO info{};
  if (connection.Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) {
    connection.KeepCondition(true);
    return;
  }
  TBitmap* bitmap = io.Bitmap();
  if (bitmap == nullptr || info.ImageWidth <= 0 || info.ImageLength <= 0) {
    link.ReturnCode = TWRC_FAILURE;
    return;
  }
  TIOParams& params = io.Params;
  if (info.BitsPerPixel >= 1 && info.BitsPerPixel <= 8) {
    params.BitsPerSample = info.BitsPerPixel;
    params.SamplesPerPixel = 1;
  } else if (info.BitsPerPixel == 24) {
    params.BitsPerSample = 8;
    params.SamplesPerPixel = 3;
  }
  params.DpiX = static_cast<std::int32_t>(std::lround(FromFix32(info.XResolution)));
  params.DpiY = static_cast<std::int32_t>(std::lround(FromFix32(info.YResolution)));
  params.Width = info.ImageWidth;
  params.Height = info.ImageLength;
  params.SetColorMap(0);
  const bool oneBit = info.BitsPerPixel == 1 && info.SamplesPerPixel == 1;
  try {
    bitmap->Allocate(info.ImageWidth, info.ImageLength, oneBit ? pf1bit : pf24bit);
  } catch (const std::exception&) {
    link.ReturnCode = TWRC_FAILURE;
    link.ConditionCode = TWCC_LOWMEMORY;
    return;
  }
  if (!oneBit) bitmap->Fill(clWhite);

  if (!link.MemoryTransfer) {
    TW_HANDLE handle = nullptr;
    const TW_UINT16 code = connection.Source(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (code == TWRC_XFERDONE) {
      link.State = 7;
      link.Acquired =
          DecodePackedDib(static_cast<const std::uint8_t*>(HandleLock(handle)), HandleSize(handle), *bitmap);
      if (!link.Acquired) link.ReturnCode = TWRC_FAILURE;
    } else if (code == TWRC_FAILURE) {
      connection.KeepCondition(true);
    }
    HandleFree(handle);
    return;
  }

  TW_SETUPMEMXFER setup{};
  if (connection.Source(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS ||
      setup.Preferred == 0) {
    connection.KeepCondition(true);
    return;
  }
  TW_HANDLE buffer = HandleAlloc(setup.Preferred);
  if (buffer == nullptr) {
    link.ReturnCode = TWRC_FAILURE;
    link.ConditionCode = TWCC_LOWMEMORY;
    return;
  }
  const int bitsPerPixel = info.BitsPerPixel;
  for (;;) {
    TW_IMAGEMEMXFER strip{};
    strip.Compression = 0xffff;
    strip.BytesPerRow = strip.Columns = strip.Rows = strip.XOffset = strip.YOffset = strip.BytesWritten =
        0xffffffff;
    strip.Memory = {TWMF_APPOWNS | TWMF_HANDLE, setup.Preferred, buffer};
    const TW_UINT16 code = connection.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
    if (code != TWRC_SUCCESS && code != TWRC_XFERDONE) {
      if (code == TWRC_FAILURE) connection.KeepCondition(true);
      break;
    }
    link.State = 7;
    const std::size_t written = std::min<std::size_t>(strip.BytesWritten, setup.Preferred);
    CopyStrip(strip, static_cast<const std::uint8_t*>(HandleLock(buffer)), written, bitsPerPixel, *bitmap);
    const std::int64_t done = std::int64_t{strip.YOffset} + strip.Rows;
    io.ProgressContext().Report(static_cast<int>(std::min<std::int64_t>(done * 100 / info.ImageLength, 100)));
    if (code == TWRC_XFERDONE) {
      link.Acquired = true;
      break;
    }
    if (io.Aborting) {
      link.ReturnCode = TWRC_CANCEL;
      break;
    }
  }
  HandleFree(buffer);
}

void EndTransfer(TConnection& connection) {
  TTwainConnection& link = connection.Link();
  if (link.State < 6) return;
  const TW_UINT16 code = link.ReturnCode;
  TW_PENDINGXFERS pending{};
  connection.Source(DG_CONTROL, DAT_PENDINGXFERS, link.State == 7 ? MSG_ENDXFER : MSG_RESET, &pending);
  if (pending.Count != 0) connection.Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
  link.State = 5;
  link.ReturnCode = code;
}

bool OpenSource(TConnection& connection, TTwainParams& params) {
  TTwainConnection& link = connection.Link();
  link.SourceId = {};
  const std::string wanted = params.SourceName(params.TwainSourceIndex);
  if (!wanted.empty()) {
    TW_IDENTITY found{};
    TW_UINT16 code = connection.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &found);
    while (code == TWRC_SUCCESS) {
      if (wanted == found.ProductName) {
        link.SourceId = found;
        break;
      }
      code = connection.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &found);
    }
  }
  if (connection.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &link.SourceId) != TWRC_SUCCESS) {
    connection.KeepCondition(false);
    return false;
  }
  link.State = 4;
  return true;
}

}  // namespace

void SetTwainManagerLoader(TTwainManagerLoader loader) {
  ManagerLoader() = loader ? std::move(loader) : TTwainManagerLoader([] { return &twain::DSM_Entry; });
}

bool TwainAcquire(TImageIO& io, TTwainParams& params, void* window, TTwainResult* result) {
  io.Aborting = false;
  TConnection connection(params, window);
  TTwainConnection& link = connection.Link();
  const auto finish = [&link, result](bool acquired) {
    if (result != nullptr) *result = {acquired ? TWRC_SUCCESS : link.ReturnCode, link.ConditionCode};
    return acquired;
  };
  if (io.Bitmap() == nullptr) return finish(false);
  if (!params.SourceListFilled) {
    TwainFillSourceList(params);
  }
  if (!connection.OpenManager() || !OpenSource(connection, params)) {
    if (link.ReturnCode == TWRC_SUCCESS) link.ReturnCode = TWRC_FAILURE;
    connection.Close();
    return finish(false);
  }
  Negotiate(connection, params);

  link.UserInterface = {static_cast<TW_BOOL>(params.TwainShowUI ? 1 : 0), 0, window};
  if (connection.Source(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &link.UserInterface) != TWRC_SUCCESS) {
    connection.KeepCondition(true);
    connection.Close();
    return finish(false);
  }
  link.State = 5;
  scan::TTwainHost& host = scan::TwainHost();
  host.EnableWindow(window, false);
  // The source runs inside the application's message loop: every turn asks it whether one of
  // its events is due.
  TW_UINT16 outcome = TWRC_CANCEL;
  bool transferred = false;
  while (link.State > 4 && !link.Acquired) {
    host.ProcessEvents(kEventWait);
    TW_EVENT event{nullptr, MSG_NULL};
    if (connection.Source(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) != TWRC_DSEVENT) continue;
    if (event.TWMessage == MSG_XFERREADY) {
      link.State = 6;
      link.ConditionCode = TWCC_SUCCESS;
      Transfer(connection, io);
      outcome = link.ReturnCode;
      transferred = true;
      EndTransfer(connection);
    } else if (event.TWMessage == MSG_CLOSEDSREQ) {
      // The source's reason: a device failure, or the user's cancel.
      // A transfer that went wrong keeps its own outcome.
      TW_STATUS status{};
      connection.Source(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
      if (!transferred) {
        link.ConditionCode = status.ConditionCode;
        outcome = status.ConditionCode == TWCC_SUCCESS ? TWRC_CANCEL : TWRC_FAILURE;
      }
      host.EnableWindow(window, true);
      connection.Source(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &link.UserInterface);
      link.State = 4;
    }
  }
  const bool acquired = link.Acquired;
  link.ReturnCode = acquired ? TWRC_SUCCESS : (outcome == TWRC_SUCCESS ? TWRC_FAILURE : outcome);
  connection.Close();
  if (acquired) {
    if (TBaseView* view = io.AttachedView()) view->SetDpi(io.Params.DpiX, io.Params.DpiY);
    host.FocusWindow(window);
    io.ReportImageChange();
  }
  return finish(acquired);
}

TW_UINT16 TwainSelectSource(TTwainParams& params, void* window, TTwainResult* result) {
  TConnection connection(params, window);
  TW_UINT16 code = TWRC_FAILURE;
  TW_IDENTITY chosen{};
  if (connection.OpenManager()) {
    code = connection.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen);
    if (code == TWRC_FAILURE) connection.KeepCondition(false);
  }
  if (result != nullptr) *result = {code, connection.Link().ConditionCode};
  connection.Close();
  if (code == TWRC_SUCCESS) {
    if (!params.SourceListFilled) TwainFillSourceList(params);
    params.SelectSourceByName(
        std::string(chosen.ProductName, strnlen(chosen.ProductName, sizeof(chosen.ProductName))));
  }
  return code;
}

void TwainFillSourceList(TTwainParams& params) {
  params.SourceListFilled = true;
  params.TwainSourceList.clear();
  TConnection connection(params, nullptr);
  if (!connection.OpenManager()) return;
  TW_IDENTITY found{};
  TW_UINT16 code = connection.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &found);
  while (code == TWRC_SUCCESS) {
    if (found.ProductName[0] != '\0') params.TwainSourceList.push_back(found);
    code = connection.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &found);
  }
}

const char* TwainFailureText(const TTwainResult& result) {
  if (result.ReturnCode == TWRC_SUCCESS || result.ReturnCode == TWRC_CANCEL) return "";
  switch (result.ConditionCode) {
    case TWCC_PAPERJAM: return "The paper is jammed in the scanner's document feeder.";
    case TWCC_NOMEDIA: return "The scanner's document feeder is empty: put the pages in and scan again.";
    case TWCC_NODS: return "No scanner was found.";
    case TWCC_CHECKDEVICEONLINE:
      return "The scanner does not answer: check that it is switched on, connected and its cover closed.";
    case TWCC_LOWMEMORY: return "There is not enough memory for the scanned picture.";
    case TWCC_DENIED: return "Access to the scanner was denied.";
    default: return "The scanner failed to deliver the picture.";
  }
}

bool TTwainParams::SelectSourceByName(const std::string& name) {
  if (!SourceListFilled) FillSourceList();
  for (std::size_t i = 0; i < TwainSourceList.size(); ++i) {
    const std::string product(
        TwainSourceList[i].ProductName,
        strnlen(TwainSourceList[i].ProductName, sizeof(TwainSourceList[i].ProductName)));
    if (product.size() >= name.size() &&
        std::equal(name.begin(), name.end(), product.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        })) {
      TwainSourceIndex = static_cast<std::int32_t>(i);
      return true;
    }
  }
  return false;
}

std::string TTwainParams::SourceName(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= TwainSourceList.size()) return {};
  const twain::TW_IDENTITY& identity = TwainSourceList[static_cast<std::size_t>(index)];
  return std::string(identity.ProductName, strnlen(identity.ProductName, sizeof(identity.ProductName)));
}

void TTwainParams::FillSourceList() {
  TwainFillSourceList(*this);
}

}  // namespace veilora
