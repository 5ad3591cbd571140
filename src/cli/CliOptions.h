#pragma once

// The command line of veilora-cli: one command, its options, and the image files it works on.

#include <optional>
#include <string>
#include <vector>

namespace veilora::cli {

// The exit status. When several images fail, the program ends with the status of the first
// failure and reports every one on standard error.
enum TExitCode : int {
  kExitOk = 0,
  kExitFileError = 1,   // an image could not be read or written
  kExitUsage = 2,       // a wrong command line, or a message or passphrase file that cannot be read
  kExitTooLong = 3,     // the message does not fit an image
  kExitLossy = 4,       // the output would destroy the message, and --force was not given
  kExitNoMessage = 5,   // an image holds no hidden message
  kExitPassphrase = 6,  // a protected message: no passphrase, a wrong one, or a damaged message
};

enum class TCommand { Capacity, Info, Hide, Reveal, Help, Version };

struct TCliOptions {
  TCommand command = TCommand::Help;
  std::vector<std::string> images;
  // hide: the message, given as text or as a file ("-" for standard input).
  std::optional<std::string> text;
  std::optional<std::string> messageFile;
  // hide and reveal: the file that holds the passphrase ("-" for standard input).
  std::optional<std::string> passphraseFile;
  // hide: where the images go; reveal: where the message goes.
  std::optional<std::string> output;
  std::optional<std::string> outputDir;
  // hide with --output-dir: the extension of every output, without its dot.
  std::optional<std::string> format;
  bool inPlace = false;
  bool force = false;
  // The window's built-in cipher: hide scrambles the message with it first, reveal unscrambles.
  bool cipher = false;
  bool quiet = false;
};

// Parses argv[1..]. On a mistake returns nothing and sets `error` to a one-line explanation.
std::optional<TCliOptions> ParseCommandLine(const std::vector<std::string>& arguments, std::string& error);

// The --help text, with the exit statuses.
const char* HelpText();

}  // namespace veilora::cli
