#pragma once

// A TWAIN data source over one SANE device: states 4 (open) to 7 (transferring), the capabilities
// an application negotiates, the image layout, the user interface (the host's source dialog, or a
// scan straight away without one), and native (packed bitmap) and buffered memory transfers of
// the scanned picture.
//
// The picture is read whole from the device before the source announces it (MSG_XFERREADY): a
// hand scanner knows its height only at the end, and a three-pass scanner sends one colour at a
// time. Reading runs on a thread of its own so that the application's windows stay responsive.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "scan/SaneDevice.h"
#include "scan/ScanImage.h"
#include "scan/Twain.h"
#include "scan/TwainHost.h"

namespace veilora::scan {

class TSaneSource {
 public:
  TSaneSource(const TDeviceInfo& device, const twain::TW_IDENTITY& identity);
  ~TSaneSource();
  TSaneSource(const TSaneSource&) = delete;
  TSaneSource& operator=(const TSaneSource&) = delete;

  // Opens the device; the condition code of a failure is kept for DAT_STATUS.
  bool Open();
  // A triplet addressed to this source.
  twain::TW_UINT16 Entry(twain::TW_UINT32 dataGroup, twain::TW_UINT16 dataArgumentType,
                         twain::TW_UINT16 message, twain::TW_MEMREF data);
  int State() const { return state_; }
  const twain::TW_IDENTITY& Identity() const { return identity_; }

  // ---- for the source's dialog (the user-interface thread)
  const TDeviceInfo& Device() const { return device_; }
  // The device's options; not while a scan runs.
  TDeviceOptions Options();
  // The settings negotiated by the application, in the device's terms.
  TScanSettings Settings() const { return settings_; }
  // Low resolution for a preview: the device's smallest at or above 30 dpi.
  double PreviewResolution();
  // Applies the settings and scans on the scanning thread. `progress` and `done` are called on
  // that thread; `progress` returning false, or CancelScan, cancels.
  using TScanDone = std::function<void(const TScanStatus& status, TScanImage image)>;
  void StartScan(const TScanSettings& settings, TScanProgress progress, TScanDone done);
  void CancelScan() { cancel_ = true; }
  bool Scanning() const { return scanning_; }
  // The dialog's scan is the picture to transfer: announces it to the application.
  void ImageReady(TScanImage image);
  // The user closed the dialog without a picture.
  void UserCancelled();

 private:
  twain::TW_UINT16 Fail(twain::TW_UINT16 condition, twain::TW_UINT16 code = twain::TWRC_FAILURE);
  twain::TW_UINT16 Capability(twain::TW_UINT16 message, twain::TW_CAPABILITY& capability);
  twain::TW_UINT16 SetCapability(twain::TW_CAPABILITY& capability);
  twain::TW_UINT16 UserInterface(twain::TW_UINT16 message, twain::TW_USERINTERFACE& ui);
  twain::TW_UINT16 ProcessEvent(twain::TW_EVENT& event);
  twain::TW_UINT16 ImageInfo(twain::TW_IMAGEINFO& info);
  twain::TW_UINT16 ImageLayout(twain::TW_UINT16 message, twain::TW_IMAGELAYOUT& layout);
  twain::TW_UINT16 NativeTransfer(twain::TW_HANDLE& handle);
  twain::TW_UINT16 SetupMemory(twain::TW_SETUPMEMXFER& setup);
  twain::TW_UINT16 MemoryTransfer(twain::TW_IMAGEMEMXFER& transfer);
  twain::TW_UINT16 PendingTransfers(twain::TW_UINT16 message, twain::TW_PENDINGXFERS& pending);
  void Post(twain::TW_UINT16 message);
  void JoinScan();
  // Inches or centimetres, as ICAP_UNITS says, per millimetre.
  double UnitsPerMillimetre() const;

  TDeviceInfo device_;
  twain::TW_IDENTITY identity_;
  TSaneDevice sane_;
  TDeviceOptions options_;
  TScanSettings settings_;
  int state_ = 3;
  twain::TW_UINT16 condition_ = twain::TWCC_SUCCESS;
  twain::TW_UINT16 units_ = twain::TWUN_INCHES;
  twain::TW_UINT16 transferMechanism_ = twain::TWSX_NATIVE;
  bool indicators_ = true;
  bool showUI_ = false;
  void* window_ = nullptr;
  std::unique_ptr<TSourceWindow> dialog_;

  // The picture to transfer and how far a memory transfer has come.
  TScanImage image_;
  bool imageReady_ = false;
  std::int32_t nextRow_ = 0;

  std::mutex mutex_;
  std::deque<twain::TW_UINT16> events_;
  twain::TW_UINT16 closeCondition_ = twain::TWCC_SUCCESS;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> scanning_{false};
};

}  // namespace veilora::scan
