#include "cli/CliOptions.h"

#include <algorithm>
#include <string_view>

namespace veilora::cli {
namespace {

struct TOptionSpec {
  char shortName;  // 0 when there is none
  std::string_view longName;
  bool takesValue;
  // The commands the option belongs to.
  std::vector<TCommand> commands;
};

const std::vector<TOptionSpec>& OptionSpecs() {
  static const std::vector<TOptionSpec> specs = {
      {'t', "text", true, {TCommand::Hide}},
      {'m', "message-file", true, {TCommand::Hide}},
      {'p', "passphrase-file", true, {TCommand::Hide, TCommand::Reveal}},
      {'o', "output", true, {TCommand::Hide, TCommand::Reveal}},
      {'d', "output-dir", true, {TCommand::Hide}},
      {0, "format", true, {TCommand::Hide}},
      {'i', "in-place", false, {TCommand::Hide}},
      {'f', "force", false, {TCommand::Hide}},
      {'c', "cipher", false, {TCommand::Hide, TCommand::Reveal}},
      {'q', "quiet", false, {TCommand::Capacity, TCommand::Info, TCommand::Hide, TCommand::Reveal}},
  };
  return specs;
}

std::optional<TCommand> CommandNamed(std::string_view name) {
  if (name == "capacity") return TCommand::Capacity;
  if (name == "info") return TCommand::Info;
  if (name == "hide") return TCommand::Hide;
  if (name == "reveal") return TCommand::Reveal;
  return std::nullopt;
}

const char* CommandName(TCommand command) {
  switch (command) {
    case TCommand::Capacity: return "capacity";
    case TCommand::Info: return "info";
    case TCommand::Hide: return "hide";
    case TCommand::Reveal: return "reveal";
    default: return "";
  }
}

void Store(TCliOptions& options, std::string_view longName, const std::string& value) {
  if (longName == "text") options.text = value;
  if (longName == "message-file") options.messageFile = value;
  if (longName == "passphrase-file") options.passphraseFile = value;
  if (longName == "output") options.output = value;
  if (longName == "output-dir") options.outputDir = value;
  if (longName == "format") options.format = value;
  if (longName == "in-place") options.inPlace = true;
  if (longName == "force") options.force = true;
  if (longName == "cipher") options.cipher = true;
  if (longName == "quiet") options.quiet = true;
}

// The rules between options that the parser alone cannot see.
bool Validate(TCliOptions& options, std::string& error) {
  if (options.images.empty()) {
    error = std::string("no image named; try: veilora-cli ") + CommandName(options.command) + " IMAGE...";
    return false;
  }
  if (options.command == TCommand::Hide) {
    if (options.text.has_value() == options.messageFile.has_value()) {
      error = "hide needs the message: either --text TEXT or --message-file FILE";
      return false;
    }
    const int targets =
        int{options.output.has_value()} + int{options.outputDir.has_value()} + int{options.inPlace};
    if (targets != 1) {
      error = "hide needs exactly one of --output FILE, --output-dir DIR and --in-place";
      return false;
    }
    if (options.format && !options.outputDir) {
      error = "--format goes with --output-dir (with --output the file name's extension chooses)";
      return false;
    }
    if (options.format) {
      std::string& format = *options.format;
      if (!format.empty() && format.front() == '.') format.erase(0, 1);
      if (format.empty() || format.find('/') != std::string::npos) {
        error = "--format needs an extension such as png or bmp";
        return false;
      }
    }
    if (options.messageFile == "-" && options.passphraseFile == "-") {
      error = "the message and the passphrase cannot both come from standard input";
      return false;
    }
  }
  if (options.output && options.images.size() != 1) {
    error = "--output takes one image; for several use --output-dir or --in-place";
    return false;
  }
  return true;
}

}  // namespace

std::optional<TCliOptions> ParseCommandLine(const std::vector<std::string>& arguments, std::string& error) {
  TCliOptions options;
  const bool wantsHelp = std::any_of(arguments.begin(), arguments.end(), [](const std::string& argument) {
    return argument == "-h" || argument == "--help";
  });
  if (wantsHelp) {
    options.command = TCommand::Help;
    return options;
  }
  if (arguments.size() == 1 && arguments[0] == "--version") {
    options.command = TCommand::Version;
    return options;
  }
  if (arguments.empty()) {
    error = "no command given; try: veilora-cli --help";
    return std::nullopt;
  }
  const std::optional<TCommand> command = CommandNamed(arguments[0]);
  if (!command) {
    error = "unknown command \"" + arguments[0] + "\"; the commands are capacity, info, hide and reveal";
    return std::nullopt;
  }
  options.command = *command;

  bool optionsEnded = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      // A lone "-" is a file name too, though no image is read from standard input.
      options.images.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    const TOptionSpec* option = nullptr;
    std::optional<std::string> inlineValue;
    if (argument[1] == '-') {
      std::string_view name = std::string_view(argument).substr(2);
      if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
        inlineValue = std::string(name.substr(equals + 1));
        name = name.substr(0, equals);
      }
      for (const TOptionSpec& candidate : OptionSpecs()) {
        if (candidate.longName == name) option = &candidate;
      }
    } else if (argument.size() == 2) {
      for (const TOptionSpec& candidate : OptionSpecs()) {
        if (candidate.shortName != 0 && candidate.shortName == argument[1]) option = &candidate;
      }
    }
    if (option == nullptr) {
      error = "unknown option " + argument + "; try: veilora-cli --help";
      return std::nullopt;
    }
    if (std::find(option->commands.begin(), option->commands.end(), options.command) ==
        option->commands.end()) {
      error =
          "option --" + std::string(option->longName) + " does not apply to " + CommandName(options.command);
      return std::nullopt;
    }
    if (!option->takesValue) {
      if (inlineValue) {
        error = "option --" + std::string(option->longName) + " takes no value";
        return std::nullopt;
      }
      Store(options, option->longName, {});
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= arguments.size()) {
        error = "option " + argument + " needs a value";
        return std::nullopt;
      }
      inlineValue = arguments[++i];
    }
    Store(options, option->longName, *inlineValue);
  }
  if (!Validate(options, error)) return std::nullopt;
  return options;
}

const char* HelpText() {
  return R"(Usage: veilora-cli COMMAND [OPTION...] IMAGE...

Hides a message in the least significant bits of true-colour pictures and reads it back, in the
layout the Veilora desktop program writes and reads.

Commands:
  capacity IMAGE...   how many message bytes each image holds
  info IMAGE...       format, size, capacity and the hidden message of each image
  hide IMAGE...       hides one message in every image named
  reveal IMAGE...     writes each image's hidden message to standard output; with several
                      images, each message follows a line "==> IMAGE <=="

Options of hide:
  -t, --text TEXT             the message: the bytes of TEXT
  -m, --message-file FILE     the message: the bytes of FILE, exactly ("-": standard input)
  -p, --passphrase-file FILE  seal the message under the passphrase in FILE (Argon2id and
                              XChaCha20-Poly1305); this adds 74 bytes to the message
  -o, --output FILE           write the one image to FILE; its extension chooses the format
  -d, --output-dir DIR        write each image into DIR under its own name
      --format EXT            with --output-dir: write every image as EXT (png, bmp, tif, tga, pcx)
  -i, --in-place              replace each image file
  -c, --cipher                scramble the message with the built-in cipher first (the window's
                              Encrypt)
  -f, --force                 write even where the message is lost (JPEG, GIF, a palette mode)
                              and over pictures that were damaged
Options of reveal:
  -p, --passphrase-file FILE  the passphrase of a protected message
  -o, --output FILE           write the message to FILE (one image only)
  -c, --cipher                unscramble the message with the built-in cipher (the window's
                              Decrypt)
Every command:
  -q, --quiet                 no progress bar (it shows only when standard error is a terminal)
  -h, --help                  this text
      --version               the version

A passphrase file holds the passphrase's bytes; one line break at its end is dropped. A message
that does not fit is refused: a W x H picture holds H x (3W - 2) / 8 - 8 bytes. A picture in two
colours is hidden into in true colour. Outputs are written beside their target and renamed over
it only when complete.

Exit status:
  0  every image done
  1  an image could not be read or written
  2  a wrong command line, or a message or passphrase file that cannot be read
  3  the message does not fit an image
  4  the output would destroy the message (JPEG, GIF, a palette mode) and --force was not given
  5  an image holds no hidden message
  6  a protected message: no passphrase given, a wrong passphrase, or a damaged message
With several images every image is tried; the status is that of the first failure.
)";
}

}  // namespace veilora::cli
