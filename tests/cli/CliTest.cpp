// Runs the veilora-cli program as a user would: files on disk, its output, its exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hidden/Crypt32.h"
#include "hidden/Envelope.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"
#include "support/HeadlessView.h"
#include "support/LzwHooks.h"
#include "support/Pixels.h"

extern char** environ;

namespace veilora::test {
namespace {

namespace fs = std::filesystem;

struct TRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program with the arguments, feeding `input` to its standard input, and collects both
// output streams (read together, so a full pipe never stalls the child).
TRun RunCli(const std::vector<std::string>& arguments, const std::string& input = {}) {
  int in[2], out[2], err[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  for (const int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
    posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<std::string> all = {VEILORA_CLI_PATH};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, VEILORA_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  TRun run;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << VEILORA_CLI_PATH;
    return run;
  }
  std::size_t written = 0;
  if (input.empty()) close(in[1]);
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  bool inOpen = !input.empty(), outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    std::vector<pollfd> fds;
    if (outOpen) fds.push_back({out[0], POLLIN, 0});
    if (errOpen) fds.push_back({err[0], POLLIN, 0});
    if (inOpen) fds.push_back({in[1], POLLOUT, 0});
    poll(fds.data(), fds.size(), -1);
    for (const pollfd& fd : fds) {
      if (fd.revents == 0) continue;
      if (fd.fd == in[1]) {
        const ssize_t n = write(in[1], input.data() + written, input.size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        if (n < 0 || written == input.size()) {
          close(in[1]);
          inOpen = false;
        }
        continue;
      }
      char buffer[65536];
      const ssize_t n = read(fd.fd, buffer, sizeof buffer);
      std::string& target = fd.fd == out[0] ? run.out : run.err;
      if (n > 0) {
        target.append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fd.fd);
        (fd.fd == out[0] ? outOpen : errOpen) = false;
      }
    }
  }
  if (inOpen) close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file << bytes;
}

std::string AllByteValues() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("veilora-cli-test-" + std::to_string(getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // A picture of random colours, saved by the core in the format its extension names.
  std::string MakeImage(const std::string& name, int width, int height, TPixelFormat format = pf24bit) {
    HeadlessView view;
    view.Bitmap()->Allocate(width, height, format);
    FillRandom(*view.Bitmap(), static_cast<std::uint32_t>(width * 31 + height));
    TImageIO io;
    io.SetAttachedView(&view);
    io.Params.Reset();
    if (format == pf1bit) {
      io.Params.BitsPerSample = 1;
      io.Params.SamplesPerPixel = 1;
    }
    const std::string path = (dir / name).string();
    io.SaveToFile(path);
    EXPECT_FALSE(io.Aborting) << name;
    return path;
  }

  std::string Path(const std::string& name) const { return (dir / name).string(); }

  TScopedLzwHooks hooks{TScopedLzwHooks::kProgramCoders};
  fs::path dir;
};

// ---------------------------------------------------------------- hide and reveal

TEST_F(CliTest, HiddenTextRevealsFromEveryLosslessFormat) {
  const std::string cover = MakeImage("cover.bmp", 64, 40);
  for (const char* extension : {".bmp", ".png", ".tif", ".tga", ".pcx"}) {
    const std::string output = Path(std::string("out") + extension);
    const TRun hide = RunCli({"hide", "--text", "meet at noon", "-o", output, cover});
    ASSERT_EQ(hide.status, 0) << extension << hide.err;
    EXPECT_EQ(hide.out, "");
    EXPECT_EQ(hide.err, "") << extension;
    const TRun reveal = RunCli({"reveal", output});
    EXPECT_EQ(reveal.status, 0) << extension << reveal.err;
    EXPECT_EQ(reveal.out, "meet at noon") << extension;
  }
}

TEST_F(CliTest, TheMessageFileIsHiddenByteForByte) {
  const std::string cover = MakeImage("cover.png", 120, 60);
  const std::string message = AllByteValues() + "\r\n\n\r" + std::string(3, '\0');
  WriteFile(Path("message.bin"), message);
  ASSERT_EQ(RunCli({"hide", "-m", Path("message.bin"), "--in-place", cover}).status, 0);
  EXPECT_EQ(RunCli({"reveal", cover}).out, message);
  // Standard input gives the message too, and reveal writes it to a file.
  ASSERT_EQ(RunCli({"hide", "-m", "-", "-i", cover}, "from stdin").status, 0);
  ASSERT_EQ(RunCli({"reveal", "-o", Path("revealed.txt"), cover}).status, 0);
  EXPECT_EQ(ReadFile(Path("revealed.txt")), "from stdin");
}

TEST_F(CliTest, TheBuiltInCipherMatchesTheWindowsEncrypt) {
  const std::string cover = MakeImage("cover.bmp", 64, 40);
  ASSERT_EQ(RunCli({"hide", "-c", "-t", "scrambled", "-i", cover}).status, 0);
  EXPECT_EQ(RunCli({"reveal", cover}).out,
            EncryptText("scrambled", kTextStartKey, kTextMultiplierKey, kTextAdditiveKey));
  EXPECT_EQ(RunCli({"reveal", "--cipher", cover}).out, "scrambled");
}

TEST_F(CliTest, APassphraseSealsTheMessage) {
  const std::string cover = MakeImage("cover.png", 100, 60);
  WriteFile(Path("pass"), "open sesame\n");
  WriteFile(Path("same-pass"), "open sesame");
  WriteFile(Path("wrong-pass"), "open sesame!\r\n");
  WriteFile(Path("empty-pass"), "\n");
  ASSERT_EQ(RunCli({"hide", "-t", "under lock", "-p", Path("pass"), "-i", cover}).status, 0);

  // The image holds the envelope; its text is nowhere to be seen.
  HeadlessView view;
  TImageIO io;
  io.SetAttachedView(&view);
  io.LoadFromFile(cover);
  TImageProc proc;
  proc.SetAttachedView(&view);
  std::string stored;
  proc.ReadHiddenText(stored);
  EXPECT_TRUE(IsEnvelope(stored));
  EXPECT_EQ(stored.size(), std::string("under lock").size() + kEnvelopeOverhead);

  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string errorPart;
  } rows[] = {
      {{"reveal", "-p", Path("same-pass"), cover}, 0, "under lock", ""},
      {{"reveal", "--passphrase-file=" + Path("pass"), cover}, 0, "under lock", ""},
      {{"reveal", cover}, 6, "", "protected by a passphrase; give it with --passphrase-file"},
      {{"reveal", "-p", Path("wrong-pass"), cover}, 6, "", "wrong passphrase"},
      {{"reveal", "-p", Path("empty-pass"), cover}, 2, "", "is empty"},
      {{"reveal", "-p", Path("missing-pass"), cover}, 2, "", "cannot open"},
  };
  for (const auto& row : rows) {
    const TRun run = RunCli(row.arguments);
    EXPECT_EQ(run.status, row.status) << row.arguments[1] << run.err;
    EXPECT_EQ(run.out, row.out) << row.arguments[1];
    EXPECT_NE(run.err.find(row.errorPart), std::string::npos) << run.err;
  }
  const TRun info = RunCli({"info", cover});
  EXPECT_NE(
      info.out.find("message: 84 bytes, protected by a passphrase (10 bytes of message; Argon2id, 2 passes "
                    "over 65536 KiB)"),
      std::string::npos)
      << info.out;
}

TEST_F(CliTest, AMessageThatDoesNotFitIsRefused) {
  // 30 x 20: 20 rows of 88 carrier bytes hold 20 * 88 / 8 - 8 = 212 bytes.
  const std::string cover = MakeImage("cover.bmp", 30, 20);
  WriteFile(Path("pass"), "pw");
  const struct {
    std::size_t length;
    bool passphrase;
    int status;
  } rows[] = {{212, false, 0}, {213, false, 3}, {212 - 74, true, 0}, {212 - 73, true, 3}};
  for (const auto& row : rows) {
    const std::string output = Path("out.png");
    fs::remove(output);
    std::vector<std::string> arguments = {"hide", "-t", std::string(row.length, 'm'), "-o", output, cover};
    if (row.passphrase) arguments.insert(arguments.end(), {"-p", Path("pass")});
    const TRun run = RunCli(arguments);
    EXPECT_EQ(run.status, row.status) << row.length << run.err;
    EXPECT_EQ(fs::exists(output), row.status == 0) << row.length;
    if (row.status == 3) {
      EXPECT_NE(run.err.find("needs " + std::to_string(row.length + (row.passphrase ? 74 : 0)) +
                             " bytes, but 212 fit in this 30 x 20 picture"),
                std::string::npos)
          << run.err;
    }
  }
}

TEST_F(CliTest, LossyOutputsAreRefusedUnlessForced) {
  const std::string cover = MakeImage("cover.bmp", 64, 40);
  const std::string jpeg = MakeImage("photo.jpg", 64, 40);
  const std::string jpegBefore = ReadFile(jpeg);
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string output;
    std::string errorPart;
  } rows[] = {
      {{"hide", "-t", "m", "-o", Path("out.jpg"), cover}, 4, Path("out.jpg"), "saving as JPEG would destroy"},
      {{"hide", "-t", "m", "-o", Path("out.gif"), cover}, 4, Path("out.gif"), "saving as GIF would destroy"},
      {{"hide", "-t", "m", "-i", jpeg}, 4, "", "saving as JPEG would destroy"},
      {{"hide", "-t", "m", "-o", Path("out.xyz"), cover}, 1, Path("out.xyz"), "names no format"},
      {{"hide", "-t", "m", "-f", "-o", Path("forced.jpg"), cover},
       0,
       Path("forced.jpg"),
       "warning: saving as JPEG"},
  };
  for (const auto& row : rows) {
    const TRun run = RunCli(row.arguments);
    EXPECT_EQ(run.status, row.status) << row.arguments.back() << run.err;
    EXPECT_NE(run.err.find(row.errorPart), std::string::npos) << run.err;
    if (!row.output.empty()) {
      EXPECT_EQ(fs::exists(row.output), row.status == 0) << row.output;
    }
  }
  EXPECT_EQ(ReadFile(jpeg), jpegBefore);
}

TEST_F(CliTest, ManyImagesGoOnAfterAFailureAndEndWithTheFirstFailure) {
  const std::vector<std::string> images = {MakeImage("a.bmp", 64, 40), MakeImage("tiny.bmp", 4, 4),
                                           MakeImage("b.png", 50, 50), Path("missing.bmp")};
  const TRun hide = RunCli({"hide", "-t", "to all", "-d", Path("out"), "--format", "png", images[0],
                            images[1], images[2], images[3]});
  EXPECT_EQ(hide.status, 3);
  EXPECT_NE(hide.err.find("tiny.bmp: the message needs 6 bytes, but 0 fit"), std::string::npos) << hide.err;
  EXPECT_NE(hide.err.find("missing.bmp"), std::string::npos);
  EXPECT_TRUE(fs::exists(Path("out/a.png")));
  EXPECT_TRUE(fs::exists(Path("out/b.png")));
  EXPECT_FALSE(fs::exists(Path("out/tiny.png")));

  const TRun reveal = RunCli({"reveal", Path("out/a.png"), images[0], Path("out/b.png")});
  EXPECT_EQ(reveal.status, 5);
  EXPECT_EQ(reveal.out,
            "==> " + Path("out/a.png") + " <==\nto all\n==> " + Path("out/b.png") + " <==\nto all\n");
  EXPECT_NE(reveal.err.find("a.bmp: no hidden message"), std::string::npos) << reveal.err;

  // Two inputs of one name would write one output twice.
  fs::create_directories(Path("other"));
  const std::string twin = (dir / "other" / "a.bmp").string();
  fs::copy_file(images[0], twin);
  const TRun twins = RunCli({"hide", "-t", "x", "-d", Path("twins"), images[0], twin});
  EXPECT_EQ(twins.status, 1);
  EXPECT_NE(twins.err.find("is the output of an earlier image too"), std::string::npos) << twins.err;
}

TEST_F(CliTest, ATwoColourPictureIsHiddenIntoInTrueColour) {
  const std::string cover = MakeImage("mono.bmp", 80, 40, pf1bit);
  ASSERT_NE(RunCli({"info", cover}).out.find("80 x 40 pixels, 1 bits per pixel"), std::string::npos);
  ASSERT_EQ(RunCli({"hide", "-t", "in black and white", "-o", Path("out.png"), cover}).status, 0);
  EXPECT_EQ(RunCli({"reveal", Path("out.png")}).out, "in black and white");
  const TRun reveal = RunCli({"reveal", cover});
  EXPECT_EQ(reveal.status, 5);
}

TEST_F(CliTest, ADamagedPictureIsHiddenIntoOnlyWhenForced) {
  const std::string cover = MakeImage("whole.bmp", 64, 64);
  std::string bytes = ReadFile(cover);
  bytes.resize(bytes.size() / 2);
  WriteFile(Path("cut.bmp"), bytes);
  const TRun refused = RunCli({"hide", "-t", "m", "-o", Path("out.png"), Path("cut.bmp")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("the picture is damaged"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(Path("out.png")));
  EXPECT_EQ(RunCli({"hide", "-f", "-t", "m", "-o", Path("out.png"), Path("cut.bmp")}).status, 0);
  EXPECT_EQ(RunCli({"reveal", Path("out.png")}).out, "m");
}

// ---------------------------------------------------------------- capacity and info

TEST_F(CliTest, CapacityAndInfoReportWhatReallyFits) {
  const std::string plain = MakeImage("plain.bmp", 300, 300);
  const TRun capacity = RunCli({"capacity", plain});
  EXPECT_EQ(capacity.status, 0);
  EXPECT_EQ(capacity.out, plain + ": 33667 bytes fit (33593 with a passphrase)\n");

  const std::string written = Path("written.png");
  ASSERT_EQ(RunCli({"hide", "-t", "twelve bytes", "-o", written, plain}).status, 0);
  const TRun info = RunCli({"info", plain, written});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out,
            plain +
                "\n  format: Windows Bitmap (BMP) ver.3\n  size: 300 x 300 pixels, 24 bits per pixel\n"
                "  space: 33667 bytes fit (33593 with a passphrase); the window's status line shows 33742\n"
                "  message: none\n" +
                written +
                "\n  format: Portable Network Graphics (PNG)\n  size: 300 x 300 pixels, 24 bits per pixel\n"
                "  space: 33667 bytes fit (33593 with a passphrase); the window's status line shows 33742\n"
                "  message: 12 bytes\n");
}

// ---------------------------------------------------------------- the command line itself

TEST_F(CliTest, MistakesOnTheCommandLineEndWithStatus2) {
  const std::string cover = MakeImage("cover.bmp", 64, 40);
  const struct {
    std::vector<std::string> arguments;
    std::string errorPart;
  } rows[] = {
      {{}, "no command given"},
      {{"conceal", cover}, "unknown command \"conceal\""},
      {{"capacity"}, "no image named"},
      {{"hide", "-o", Path("o.png"), cover}, "either --text TEXT or --message-file FILE"},
      {{"hide", "-t", "a", "-m", "f", "-i", cover}, "either --text TEXT or --message-file FILE"},
      {{"hide", "-t", "a", cover}, "exactly one of --output FILE, --output-dir DIR and --in-place"},
      {{"hide", "-t", "a", "-i", "-d", "x", cover}, "exactly one of"},
      {{"hide", "-t", "a", "-o", Path("o.png"), cover, cover}, "--output takes one image"},
      {{"hide", "-t", "a", "-i", "--format", "png", cover}, "--format goes with --output-dir"},
      {{"hide", "-t", "", "-i", cover}, "the message is empty"},
      {{"hide", "-m", "-", "-p", "-", "-i", cover}, "cannot both come from standard input"},
      {{"hide", "-t", "a", "-i", "-m", Path("missing"), cover}, "either --text"},
      {{"hide", "-m", Path("missing"), "-i", cover}, "cannot open"},
      {{"reveal", "--force", cover}, "option --force does not apply to reveal"},
      {{"info", "--bogus", cover}, "unknown option --bogus"},
      {{"hide", "-t"}, "option -t needs a value"},
      {{"reveal", "--quiet=yes", cover}, "takes no value"},
  };
  for (const auto& row : rows) {
    const TRun run = RunCli(row.arguments);
    EXPECT_EQ(run.status, 2) << (row.arguments.empty() ? "" : row.arguments[0]) << " " << run.err;
    EXPECT_NE(run.err.find(row.errorPart), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(CliTest, HelpNamesTheCommandsAndEveryExitStatus) {
  const TRun help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"capacity IMAGE...", "info IMAGE...", "hide IMAGE...", "reveal IMAGE...",
                           "  0  every", "  1  an image", "  2  a wrong", "  3  the message",
                           "  4  the output", "  5  an image", "  6  a protected"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(RunCli({"hide", "-h"}).out, help.out);
}

TEST_F(CliTest, FilesThatAreNotPicturesFailWithStatus1) {
  WriteFile(Path("notes.bmp"), "this is not a bitmap");
  for (const std::string& name : {Path("notes.bmp"), Path("absent.png")}) {
    const TRun run = RunCli({"info", name});
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_NE(run.err.find(name), std::string::npos) << run.err;
  }
}

// ---------------------------------------------------------------- progress bar

// Runs the program with its standard error (and output) on a pseudo-terminal.
std::string RunOnTerminal(const std::vector<std::string>& arguments, int& status) {
  int master = -1;
  winsize size{};
  size.ws_col = 100;
  size.ws_row = 24;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    std::vector<std::string> all = {VEILORA_CLI_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(VEILORA_CLI_PATH, argv.data());
    _exit(127);
  }
  std::string seen;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) {
      seen.append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO: the child closed the terminal
    }
  }
  close(master);
  int raw = 0;
  waitpid(pid, &raw, 0);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return seen;
}

TEST_F(CliTest, TheProgressBarShowsOnlyOnATerminal) {
  const std::string first = MakeImage("first.bmp", 400, 300);
  const std::string second = MakeImage("second.bmp", 400, 300);
  int status = -1;
  const std::string terminal = RunOnTerminal({"hide", "-t", "m", "-d", Path("out"), first, second}, status);
  EXPECT_EQ(status, 0) << terminal;
  EXPECT_NE(terminal.find("[1/2] "), std::string::npos) << terminal;
  EXPECT_NE(terminal.find("[2/2] "), std::string::npos);
  // The last drawing of the second image: its bar full.
  const std::size_t bar = terminal.find('[', terminal.rfind("second.bmp writing "));
  ASSERT_NE(bar, std::string::npos) << terminal;
  const std::size_t end = terminal.find("] 100%", bar);
  ASSERT_NE(end, std::string::npos) << terminal;
  EXPECT_EQ(terminal.substr(bar + 1, end - bar - 1).find_first_not_of('#'), std::string::npos) << terminal;
  // The line is erased at the end, so the prompt comes back on a clean line.
  EXPECT_EQ(terminal.substr(terminal.size() - 4), "\r\033[K");

  EXPECT_EQ(RunOnTerminal({"hide", "-q", "-t", "m", "-d", Path("quiet"), first}, status), "");
  EXPECT_EQ(status, 0);
  const TRun piped = RunCli({"hide", "-t", "m", "-d", Path("piped"), first});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
}

}  // namespace
}  // namespace veilora::test
