#pragma once

// The application's side of TWAIN: the connection to the data-source manager through its states
// (1 nothing loaded, 2 manager loaded, 3 manager open, 4 source open, 5 source enabled, 6 transfer
// ready, 7 transferring), acquisition of one picture into an input/output component's bitmap, and
// the choice of the source.

#include <cstdint>
#include <functional>

#include "scan/Twain.h"
#include "scan/TwainParams.h"

namespace veilora {

class TImageIO;

// Finds the manager's entry point: the first step of every connection. The program's own manager
// is linked in; a loader that finds none (null) leaves the connection in state 1.
using TTwainManagerLoader = std::function<twain::DSMENTRYPROC()>;
void SetTwainManagerLoader(TTwainManagerLoader loader);

struct TTwainConnection {
  int State = 1;
  twain::DSMENTRYPROC Entry = nullptr;
  twain::TW_IDENTITY AppId{};
  twain::TW_IDENTITY SourceId{};
  twain::TW_UINT16 ReturnCode = twain::TWRC_SUCCESS;
  twain::TW_UINT16 ConditionCode = twain::TWCC_SUCCESS;
  twain::TW_USERINTERFACE UserInterface{};
  void* Window = nullptr;
  bool Acquired = false;
  bool MemoryTransfer = false;
};

// The outcome of the last acquisition or selection, for a message to the user.
struct TTwainResult {
  twain::TW_UINT16 ReturnCode = twain::TWRC_SUCCESS;
  twain::TW_UINT16 ConditionCode = twain::TWCC_SUCCESS;
};

// One picture from the chosen source into `io`'s bitmap; true when a picture was transferred.
bool TwainAcquire(TImageIO& io, TTwainParams& params, void* window, TTwainResult* result = nullptr);
// The manager's source dialog; the chosen source becomes current in `params`. The manager's return
// code (and its condition code in `result`).
twain::TW_UINT16 TwainSelectSource(TTwainParams& params, void* window, TTwainResult* result = nullptr);
// Walks the manager's sources into params.TwainSourceList.
void TwainFillSourceList(TTwainParams& params);

// A sentence for the user about a failed acquisition; empty when the user cancelled or nothing
// failed.
const char* TwainFailureText(const TTwainResult& result);

}  // namespace veilora
