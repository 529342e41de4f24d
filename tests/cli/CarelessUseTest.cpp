// qvtool under careless input and odd files: a flash the tool could not change or read never
// passes for done, no file given twice or in an odd place is lost, and every run ends in one
// valid report with the exit code that says what happened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/support/ToolRunner.h"

namespace qv::test {
namespace {

class CarelessUse : public QvTool {
 protected:
  CarelessUse() {
    Write("fw.bin", Firmware(3000));
    Write("Brevanto_RX1.bin", Firmware(3000));
  }
  // Nothing reached the device: -v logs every request that went through, the probe included.
  static bool NothingSent(const ToolRun& run) { return run.err.find(" ok\n") == std::string::npos; }
};

TEST_F(CarelessUse, AFlashThatWasNotChangedOrNotReadNeverPassesForDone) {
  struct Case {
    const char* setup;
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      // The protection stays, the chip erase is ignored and the status reads "not busy" at once.
      {"wp=1", {"erase", "--yes"}, "the flash stays write-protected (status 0x"},
      {"fail-request=12", {"erase", "--yes"}, "nothing was erased"},  // clear's write enable
      {"fail-request=13", {"erase", "--yes"}, "nothing was erased"},  // the status write
      {"wp=1", {"update", "--yes", "fw.bin"}, "The flash was not changed;"},
      // An absent flash reads FF: no blank flash, no contents, no identification.
      {"flash=none", {"blank-check"}, "does not answer its identification (FF FF FF)"},
      {"flash=none", {"read", "--size", "64"}, "what it reads cannot be trusted"},
      {"flash=none", {"chip-id"}, "no flash was identified"},
      {"flash=none", {"verify", "fw.bin"}, "what it reads cannot be trusted"},
      // A busy part answers reads with bytes that are not its contents.
      {"stuck-busy=1", {"--force", "blank-check"}, "the flash stays busy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.setup) + " " + c.args.front());
    const std::string before = Flashed("the old firmware");
    Write("flash.bin", before);
    std::vector<std::string> args{Sim(c.setup)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_CONTAINS(run.err, c.message);
    EXPECT_EQ(run.out.find("Success"), std::string::npos) << run.out;
    if (std::string(c.setup) != "flash=none") {
      EXPECT_TRUE(Flash() == before);
    }
  }
  // The identification is only the last word with --force; an erase still checks its result.
  EXPECT_EQ(Tool({Sim("flash=none"), "--force", "chip-id"}).status, 0);
  const ToolRun erased = Tool({Sim(), "erase", "--yes"});
  EXPECT_EQ(erased.status, 0) << erased.err;
  EXPECT_CONTAINS(erased.out, "Blanking Success\nErase Success\n");
  EXPECT_TRUE(Flash() == std::string(kFlashSize, '\xFF'));
}

TEST_F(CarelessUse, FilesGivenTwiceOrInOddPlacesAreRefusedOrWrittenWhereTheyLead) {
  ASSERT_EQ(Tool({Sim(), "backup", "old.bin"}).status, 0);
  const std::string old = Read("old.bin");
  const std::filesystem::path dir = DirPath();
  std::filesystem::create_hard_link(dir / "old.bin", dir / "hard.bin");
  std::filesystem::create_directory(dir / "adir");
  std::filesystem::create_symlink("target.bin", dir / "link.bin");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  // Past the largest firmware file, and sparse: the refusal must not read it.
  Write("huge.bin", "");
  std::filesystem::resize_file(dir / "huge.bin", std::uintmax_t{2} << 30);

  struct Case {
    std::vector<std::string> args;
    const char* message;
    bool identifiesFirst = false;  // the check needs the flash's size
  };
  const Case cases[] = {
      {{"update", "--yes", "--backup", "fw.bin", "fw.bin"}, "given as FILE and as --backup"},
      {{"--log", "old.bin", "update", "--yes", "--backup", "./old.bin", "fw.bin"},
       "given as --backup and as --log"},
      {{"--log", "F", "read", "--out", "F"}, "given as --out and as --log"},
      {{"--log", "fw.bin", "update", "--yes", "fw.bin"}, "given as FILE and as --log"},
      {{"--log", "hard.bin", "restore", "--yes", "old.bin"}, "given as FILE and as --log"},
      {{"backup", "nodir/b.bin"}, "cannot write 'nodir/b.bin': its folder does not exist"},
      {{"--log", "adir", "version"}, "cannot write 'adir': it is a directory"},
      {{"update", "--yes", "adir"}, "'adir' is a directory"},
      {{"verify", "huge.bin"}, "is larger than 16777216 bytes"},
      {{"update", "--yes", "/dev/zero"}, "is larger than 16777216 bytes"},
      // A backup is raw binary of the whole flash, for the device's own model.
      {{"restore", "--yes", "Brevanto_RX1.hex"}, "is an Intel HEX file"},
      {{"restore", "--yes", "fw.bin"}, "a whole backup of the flash EF 40 13", true},
      {{"restore", "--yes", "huge.bin"}, "is larger than 16777216 bytes"},
  };
  Write("Brevanto_RX1.hex", AsHex(Firmware(100)));
  Write("flash.bin", old);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::vector<std::string> args{Sim(), "-v"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_CONTAINS(run.err, c.message);
    EXPECT_TRUE(c.identifiesFirst || NothingSent(run)) << run.err;
  }
  EXPECT_TRUE(Read("fw.bin") == Firmware(3000));
  EXPECT_TRUE(Read("old.bin") == old && Flash() == old);
  // A backup refused for its size once the flash is known: a failed restore that wrote nothing.
  const ToolRun partial = Tool({Sim(), "restore", "--yes", "fw.bin"});
  EXPECT_CONTAINS(partial.out, "Restore Fail!");
  EXPECT_CONTAINS(partial.err, "The flash was not changed; it is write-protected");

  // A link is followed and its target written, the link kept; a FIFO is written straight
  // through (as /dev/null would be: no test may risk that one), and standard output is the
  // tool's own.
  ASSERT_EQ(Tool({Sim(), "read", "--size", "16", "--out", "link.bin"}).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.bin"));
  EXPECT_EQ(Read("target.bin").size(), 97u);  // one text line of sixteen bytes
  std::string fromPipe;
  std::thread reader([&] { fromPipe = ReadFile(dir / "pipe"); });
  const ToolRun piped = Tool({Sim(), "--log", "pipe", "version"});
  // Should the tool not have opened it, the reader is let go.
  ::close(::open((dir / "pipe").c_str(), O_WRONLY | O_NONBLOCK));
  reader.join();
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_CONTAINS(fromPipe, "IN  91 v=0000 i=00AE");
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "pipe"));
  const ToolRun out = Tool({Sim(), "read", "--size", "16", "--format", "bin", "--out", "-"});
  EXPECT_EQ(out.status, 0);
  EXPECT_TRUE(out.out == old.substr(0, 16));
}

TEST_F(CarelessUse, EveryRunEndsInOneValidReportWithTheExitCodeThatFits) {
  const auto document = [](const ToolRun& run) {
    return nlohmann::json::parse(run.out, nullptr, false);
  };
  // Text that is not UTF-8 is replaced in the document, after the command ran.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--json", "param", "set-string", "3", "SN\xE9"},
        {"--json", "backup", "b\xE9.bin"},
        {"--json", "check-file", "fw\xE9.bin"},
        {"--json", "--device", "\xE9", "version"}}) {
    std::vector<std::string> all{Sim()};
    all.insert(all.end(), args.begin(), args.end());
    const ToolRun run = Tool(all);
    const nlohmann::json parsed = document(run);
    ASSERT_FALSE(parsed.is_discarded()) << run.status << run.out;
    EXPECT_EQ(parsed["exit"], run.status);
  }
  // Standard output that cannot be written is no success.
  const std::string toFull = "cd " + Quote(DirPath()) + " && " + Quote(QVTOOL_PATH) + " " +
                             Quote(Sim()) + " --json version >/dev/full 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(toFull.c_str())), 2);

  struct Case {
    std::vector<std::string> args;
    int status;
    const char* text;  // in standard output for status 0, else standard error
  };
  const Case cases[] = {
      // A backup of the whole flash is compared as it is.
      {{"verify", "old.bin"}, 0, "Verifying Success"},
      {{"update", "--simulate", "--yes", "fw.bin"}, 0, "Firmware update success!"},
      {{"param", "set-string", "1", "--", "-abc"}, 0, "stored"},
      {{"param", "set-string", "1", "a\tb"}, 2, "control character"},
      {{"param", "set-string", "1", std::string(16, '\xC3') + std::string(16, '\xA9')},
       2,
       "holds 32 bytes; the device keeps at most 31"},
      {{"param", "set-string", "1", ""}, 1, "Not confirmed: nothing was sent."},
      {{"settings", "set", "mclk=1024", "mclk=128"}, 2, "mclk is given twice"},
      {{"check-file", "empty.bin"}, 2, "empty.bin: the file holds no data"},
      {{"read", "--size", "0x80001"}, 2, "--size 0x80001 is past the end"},
      {{"--force", "update", "--yes", "--backup", "b.bin", "fw.bin"},
       1,
       "back it up first with 'qvtool backup --size N FILE'"},
  };
  Write("empty.bin", "");
  ASSERT_EQ(Tool({Sim(), "backup", "old.bin"}).status, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const bool force = c.args.front() == "--force";
    std::vector<std::string> args{Sim(force ? "flash=none" : "")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_CONTAINS(c.status == 0 ? run.out : run.out + run.err, c.text);
  }
  const nlohmann::json status = document(Tool({Sim("status=0C0001"), "--json", "status"}));
  EXPECT_TRUE(status["rate"].is_null());
}

}  // namespace
}  // namespace qv::test
