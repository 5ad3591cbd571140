#pragma once

// The four commands of veilora-cli over the Qt-free core: capacity, info, hide and reveal.

#include <cstdio>

#include "cli/CliOptions.h"

namespace veilora::cli {

// Runs one parsed command line. Results go to `out` (the revealed messages, the capacity and info
// lines), failures and warnings to `err`, where the progress bar is drawn when `err` is a
// terminal. Returns the exit status.
int RunCommand(const TCliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace veilora::cli
