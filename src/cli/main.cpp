// veilora-cli: the hidden-text commands of Veilora without a window, for scripts and many files.
// See HelpText() in CliOptions.cpp for the commands, options and exit statuses.

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliOptions.h"
#include "io/LzwCoders.h"

int main(int argc, char** argv) {
  using namespace veilora::cli;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string error;
  const std::optional<TCliOptions> options = ParseCommandLine(arguments, error);
  if (!options) {
    std::fprintf(stderr, "veilora-cli: %s\n", error.c_str());
    return kExitUsage;
  }
  // GIF and TIFF pictures need their LZW coders, as in the desktop program's start-up.
  veilora::InstallLzwCoders();
  try {
    return RunCommand(*options, stdout, stderr);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "\nveilora-cli: out of memory\n");
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "\nveilora-cli: %s\n", failure.what());
  }
  return kExitFileError;
}
