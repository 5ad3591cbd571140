#pragma once

// Veilora's data-source manager: the TWAIN entry point, with SANE's scanners as its sources. It
// answers the manager's own triplets (DAT_PARENT, DAT_IDENTITY, DAT_STATUS) and hands the rest to
// the source a triplet is addressed to. One application at a time may hold it open.

#include "scan/Twain.h"

namespace veilora::twain {

TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dataGroup,
                    TW_UINT16 dataArgumentType, TW_UINT16 message, TW_MEMREF data);

}  // namespace veilora::twain
