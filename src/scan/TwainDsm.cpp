#include "scan/TwainDsm.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scan/SaneDevice.h"
#include "scan/SaneSource.h"
#include "scan/TwainHost.h"

namespace veilora::twain {

namespace {

using scan::TDeviceInfo;
using scan::TSaneSource;

// Product names are at most 33 characters; a SANE device name that is longer (network devices)
// is cut and numbered so that every source keeps a name of its own.
std::string ProductNameFor(const TDeviceInfo& device, std::size_t index) {
  if (device.name.size() <= 33) return device.name;
  const std::string number = "~" + std::to_string(index + 1);
  return device.name.substr(0, 33 - number.size()) + number;
}

class TManager {
 public:
  TW_UINT16 Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dataGroup, TW_UINT16 dat,
                  TW_UINT16 message, TW_MEMREF data) {
    if (origin == nullptr) return TWRC_FAILURE;
    if (destination != nullptr && dat != DAT_IDENTITY) {
      if (!open_ || origin->Id != application_.Id) return Fail(TWCC_SEQERROR);
      const auto source = sources_.find(destination->Id);
      if (source == sources_.end()) return Fail(TWCC_BADDEST);
      return source->second->Entry(dataGroup, dat, message, data);
    }
    if (dataGroup != DG_CONTROL) return Fail(TWCC_BADPROTOCOL);
    switch (dat) {
      case DAT_PARENT: return Parent(*origin, message, data);
      case DAT_IDENTITY: return Identity(message, static_cast<TW_IDENTITY*>(data));
      case DAT_STATUS: {
        if (message != MSG_GET || data == nullptr) return Fail(TWCC_BADPROTOCOL);
        auto& status = *static_cast<TW_STATUS*>(data);
        status.ConditionCode = condition_;
        status.Reserved = 0;
        condition_ = TWCC_SUCCESS;
        return TWRC_SUCCESS;
      }
      default: return Fail(TWCC_BADPROTOCOL);
    }
  }

 private:
  TW_UINT16 Fail(TW_UINT16 condition) {
    condition_ = condition;
    return TWRC_FAILURE;
  }

  TW_UINT16 Parent(TW_IDENTITY& origin, TW_UINT16 message, TW_MEMREF data) {
    if (message == MSG_OPENDSM) {
      if (open_) return Fail(TWCC_SEQERROR);
      library_ = std::make_unique<scan::TSaneLibrary>();
      if (!library_->Ready()) {
        library_.reset();
        return Fail(TWCC_BUMMER);
      }
      // The data of DAT_PARENT points at the window handle.
      window_ = data != nullptr ? *static_cast<void**>(data) : nullptr;
      devices_ = scan::ListDevices();
      identities_.clear();
      for (std::size_t i = 0; i < devices_.size(); ++i) {
        TW_IDENTITY identity{};
        identity.Id = static_cast<TW_UINT32>(i + 2);
        identity.Version.MajorNum = 1;
        identity.Version.MinorNum = 0;
        identity.Version.Language = TWLG_USA;
        identity.Version.Country = TWCY_USA;
        SetStr32(identity.Version.Info, devices_[i].type.c_str());
        identity.ProtocolMajor = TWON_PROTOCOLMAJOR;
        identity.ProtocolMinor = TWON_PROTOCOLMINOR;
        identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
        SetStr32(identity.Manufacturer, devices_[i].vendor.c_str());
        SetStr32(identity.ProductFamily, devices_[i].model.c_str());
        SetStr32(identity.ProductName, ProductNameFor(devices_[i], i).c_str());
        identities_.push_back(identity);
      }
      origin.Id = 1;
      application_ = origin;
      open_ = true;
      walk_ = 0;
      return TWRC_SUCCESS;
    }
    if (message == MSG_CLOSEDSM) {
      if (!open_ || origin.Id != application_.Id) return Fail(TWCC_SEQERROR);
      if (!sources_.empty()) return Fail(TWCC_SEQERROR);
      open_ = false;
      library_.reset();
      return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADPROTOCOL);
  }

  int IndexOf(const TW_IDENTITY& wanted) const {
    for (std::size_t i = 0; i < identities_.size(); ++i) {
      if (std::strncmp(identities_[i].ProductName, wanted.ProductName, sizeof(wanted.ProductName)) == 0) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  TW_UINT16 Identity(TW_UINT16 message, TW_IDENTITY* identity) {
    if (!open_) return Fail(TWCC_SEQERROR);
    if (identity == nullptr) return Fail(TWCC_BADVALUE);
    switch (message) {
      case MSG_GETFIRST: walk_ = 0; [[fallthrough]];
      case MSG_GETNEXT:
        if (walk_ >= identities_.size()) return TWRC_ENDOFLIST;
        *identity = identities_[walk_++];
        return TWRC_SUCCESS;
      case MSG_GETDEFAULT:
        if (identities_.empty()) return Fail(TWCC_NODS);
        *identity = identities_[static_cast<std::size_t>(std::max(defaultIndex_, 0))];
        return TWRC_SUCCESS;
      case MSG_USERSELECT: {
        if (identities_.empty()) return Fail(TWCC_NODS);
        std::vector<scan::TSourceChoice> choices;
        for (const TW_IDENTITY& source : identities_) {
          choices.push_back({source.ProductName, source.Manufacturer, source.ProductFamily});
        }
        int current = identity->ProductName[0] != '\0' ? IndexOf(*identity) : defaultIndex_;
        const int chosen = scan::TwainHost().SelectSource(choices, std::max(current, 0), window_);
        if (chosen < 0 || chosen >= static_cast<int>(identities_.size())) return TWRC_CANCEL;
        defaultIndex_ = chosen;
        *identity = identities_[static_cast<std::size_t>(chosen)];
        return TWRC_SUCCESS;
      }
      case MSG_OPENDS: {
        if (identities_.empty()) return Fail(TWCC_NODS);
        // An empty identity opens the default source.
        const int index = identity->ProductName[0] == '\0' ? std::max(defaultIndex_, 0) : IndexOf(*identity);
        if (index < 0) return Fail(TWCC_NODS);
        const TW_IDENTITY& found = identities_[static_cast<std::size_t>(index)];
        if (sources_.count(found.Id) != 0) return Fail(TWCC_MAXCONNECTIONS);
        auto source = std::make_unique<TSaneSource>(devices_[static_cast<std::size_t>(index)], found);
        if (!source->Open()) {
          TW_STATUS status{};
          source->Entry(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
          return Fail(status.ConditionCode != TWCC_SUCCESS ? status.ConditionCode : TWCC_OPERATIONERROR);
        }
        *identity = found;
        sources_[found.Id] = std::move(source);
        return TWRC_SUCCESS;
      }
      case MSG_CLOSEDS: {
        const auto source = sources_.find(identity->Id);
        if (source == sources_.end()) return Fail(TWCC_NODS);
        if (source->second->State() != 4) return Fail(TWCC_SEQERROR);
        sources_.erase(source);
        return TWRC_SUCCESS;
      }
      default: return Fail(TWCC_BADPROTOCOL);
    }
  }

  bool open_ = false;
  TW_IDENTITY application_{};
  void* window_ = nullptr;
  std::unique_ptr<scan::TSaneLibrary> library_;
  std::vector<TDeviceInfo> devices_;
  std::vector<TW_IDENTITY> identities_;
  std::size_t walk_ = 0;
  int defaultIndex_ = -1;
  TW_UINT16 condition_ = TWCC_SUCCESS;
  std::map<TW_UINT32, std::unique_ptr<TSaneSource>> sources_;
};

TManager& Manager() {
  static TManager manager;
  return manager;
}

}  // namespace

TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dataGroup,
                    TW_UINT16 dataArgumentType, TW_UINT16 message, TW_MEMREF data) {
  return Manager().Entry(origin, destination, dataGroup, dataArgumentType, message, data);
}

}  // namespace veilora::twain
