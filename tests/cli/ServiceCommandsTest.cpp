// End-to-end runs of the built qvtool's service commands against the simulated device.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tests/support/ToolRunner.h"

namespace qv::test {
namespace {

class ServiceCommands : public QvTool {
 protected:
  static std::string With(const std::string& setup) { return "--simulate=" + setup; }
  // The lines of a --log file that are register writes of the mailbox command 0x10.
  static std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; ++at) ++n;
    return n;
  }
};

TEST_F(ServiceCommands, RegistersAreReadWrittenAndDumpedAsThePageDoes) {
  // The version register belongs to the firmware: the value read back is the chip's.
  const ToolRun write = Tool({Sim(), "reg", "write", "0", "0xAE", "0x55"});
  EXPECT_EQ(write.status, 0) << write.err;
  EXPECT_EQ(write.out, "0x01\n");
  EXPECT_EQ(Tool({Sim(), "reg", "write", "5", "0x10", "0x5A"}).out, "0x5A\n");
  EXPECT_EQ(Tool({Sim(), "reg", "read", "5", "16"}).out, "0x00\n");  // a new device each run

  const ToolRun dump = Tool({Sim("status=040003"), "reg", "dump", "0"});
  EXPECT_EQ(dump.status, 0);
  std::vector<std::string> lines;
  std::istringstream in(dump.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0], "   00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
  EXPECT_EQ(lines[11].substr(0, 18), "A0 00 00 00 00 04 ");  // A4 is the fifth column
  EXPECT_EQ(lines[11].substr(18, 6), "00 03 ");
  EXPECT_EQ(lines[16].substr(0, 3), "F0 ");

  // Out of range or no number: refused before anything is sent, the limit named.
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"reg", "read", "256", "0"}, "BANK needs a number from 0 to 255 (0xFF)"},
      {{"reg", "write", "0", "0x1FF", "1"}, "ADDR needs a number from 0 to 255"},
      {{"reg", "write", "0", "1", "x"}, "VALUE needs a number from 0 to 255"},
      {{"i2c", "read", "0x21", "0"}, "0x21 has it set; 0x20 is that part"},
      {{"i2c", "read", "0x20", "0", "256"}, "COUNT needs a number from 1 to 255"},
      {{"i2c", "raw", "0x20", "--cmd", "1", "2", "3", "4", "5", "6", "--read", "1"},
       "--cmd takes 1 to 5 bytes, not 6"},
      {{"i2c", "raw", "0x20", "--cmd", "1"}, "either --write BYTE... or --read N"},
      {{"param", "set-vid", "e6a"}, "set-vid needs four hexadecimal digits"},
      {{"param", "set-string", "2", std::string(32, 's')}, "the device keeps at most 31"},
      {{"settings", "set", "mclk=333"}, "mclk needs one of 128|256|512|1024, not '333'"},
      {{"settings", "set", "volume=3"}, "is not FIELD=VALUE of a known field"},
      {{"key", "stop"}, "key needs one of prev, vol-, play, vol+, next"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args{Sim(), "-v"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_CONTAINS(run.err, c.message);
    EXPECT_EQ(run.err.find(" ok\n"), std::string::npos);  // not even the probe
  }
}

TEST_F(ServiceCommands, I2cCommandsPutTheirBytesOnTheBusAndInventNothing) {
  const std::string setup = "i2c-slaves=20,a0";
  // An absent part: exit 1 and no value at all.
  const ToolRun absent = Tool({Sim(setup), "i2c", "read", "0x40", "0"});
  EXPECT_EQ(absent.status, 1);
  EXPECT_EQ(absent.out, "");
  EXPECT_CONTAINS(absent.err, "the slave at 0x40 did not acknowledge");
  const ToolRun absentDump = Tool({Sim(setup), "i2c", "dump", "0x40"});
  EXPECT_EQ(absentDump.status, 1);
  EXPECT_CONTAINS(absentDump.out, "00 -- -- --");
  EXPECT_CONTAINS(absentDump.err, "256 of the 256 slave registers could not be read");

  // The raw write's command bytes set the part's pointer, its data follow; the register read
  // shows them where they went. One run holds the device, so each check is its own run of a
  // command chain through the --log of the raw write.
  const ToolRun raw = Tool({Sim(setup), "--log", "raw.log", "i2c", "raw", "0xa0", "--cmd", "0x10",
                            "--write", "0xAB", "0xCD"});
  EXPECT_EQ(raw.status, 0) << raw.err;
  const std::string log = Read("raw.log");
  // Address, command and both data bytes go out through the transmit register, in order.
  for (const char* sent :
       {"i=0012 len=1 [A0]", "i=0012 len=1 [10]", "i=0012 len=1 [AB]", "i=0012 len=1 [CD]"})
    EXPECT_CONTAINS(log, sent);
  EXPECT_LT(log.find("[A0]"), log.find("[10]"));
  EXPECT_LT(log.find("[AB]"), log.find("[CD]"));
  const ToolRun read = Tool({Sim(setup), "i2c", "raw", "0xa0", "--cmd", "0x00", "--read", "2"});
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, "0x00 0x00\n");
  const ToolRun write = Tool({Sim(setup), "i2c", "write", "0x20", "0x10", "1", "2"});
  EXPECT_EQ(write.status, 0);
  EXPECT_EQ(write.out, "written 2 bytes\n");
}

TEST_F(ServiceCommands, ParametersTravelAsThePageSendsThem) {
  struct Case {
    std::string text;
    std::size_t chunks;
  };
  for (const Case& c : {Case{"Quorvex", 1}, Case{"Quorvex-", 2}, Case{std::string(31, 'S'), 4}}) {
    SCOPED_TRACE(c.text.size());
    const ToolRun run = Tool({Sim(), "--log", "p.log", "param", "set-string", "1", c.text});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "stored\n");
    EXPECT_EQ(Count(Read("p.log"), "OUT 90 v=0000 i=0090 len=1 [10] ok"), c.chunks);
  }
  // New ids ask first: unconfirmed, nothing is sent.
  const ToolRun asked = Tool({Sim(), "-v", "param", "set-vid", "e6a0"}, "y\n");
  EXPECT_EQ(asked.status, 1);
  EXPECT_CONTAINS(asked.out, "no longer one of the models");
  EXPECT_EQ(asked.err, "PROBE property set support ok\n");
  const ToolRun vid = Tool({Sim(), "--log", "v.log", "--yes", "param", "set-vid", "e6a0"});
  EXPECT_EQ(vid.status, 0) << vid.err;
  const std::string log = Read("v.log");
  for (const char* sent : {"i=0093 len=1 [65]", "i=0094 len=1 [36]", "i=0095 len=1 [61]",
                           "i=0096 len=1 [30]", "i=0091 len=1 [08]"})
    EXPECT_CONTAINS(log, sent);
  // A firmware that never answers: not stored.
  const ToolRun hung = Tool({Sim("mailbox=never"), "param", "set-string", "3", "X"});
  EXPECT_EQ(hung.status, 1);
  EXPECT_CONTAINS(hung.err, "did not confirm");
}

TEST_F(ServiceCommands, SettingsSetChangesOnlyTheNamedFields) {
  const std::string setup = "settings=a1f03c00;eeprom=1";
  const ToolRun get = Tool({Sim(setup), "settings", "get"});
  EXPECT_EQ(get.status, 0);
  EXPECT_CONTAINS(get.out, "i2s-length=32\nspdif-length=24\n");
  EXPECT_CONTAINS(get.out, "mclk=512\n");
  EXPECT_CONTAINS(get.out, "i2s-out=off\n");
  EXPECT_CONTAINS(get.out, "record=A1 F0 3C 80\n");
  const ToolRun set = Tool({Sim(setup), "settings", "set", "mclk=128", "i2s-out=on"});
  EXPECT_EQ(set.status, 0) << set.err;
  // Bits 4-5 of byte 0 and bit 6 of byte 1 changed; everything else as the device held it.
  EXPECT_CONTAINS(set.out, "record=81 B0 3C 80\n");
  const ToolRun hung = Tool({Sim(setup + ";mailbox=never"), "-v", "settings", "set", "mclk=128"});
  EXPECT_EQ(hung.status, 1);
  EXPECT_CONTAINS(hung.err, "could not be read back first; nothing was sent");
  EXPECT_EQ(Count(hung.err, "i=0091 len=1 [20]"), 0u);  // no settings write
}

TEST_F(ServiceCommands, StatusAndKeysSayWhatTheFirmwareReports) {
  struct Case {
    const char* status;
    const char* text;
  };
  const Case cases[] = {
      {"010001", "connection: USB connected\nmute: Playing\nformat: PCM\nrate: 48KHz\n"},
      {"090003", "connection: USB connected\nmute: Playing\nformat: DSD\nrate: DSD 128\n"},
      {"010003", "connection: USB connected\nmute: Playing\nformat: DSD\nrate: DoP 128\n"},
      {"010005", "connection: USB connected\nmute: Mute\n"},
      {"010000", "connection: USB Disconnected\n"},
      {"0C0001", "connection: USB connected\nmute: Playing\nformat: PCM\nrate: unknown\n"},
  };
  for (const Case& c : cases) {
    const ToolRun run = Tool({Sim(std::string("status=") + c.status), "status"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, c.text) << c.status;
  }
  EXPECT_EQ(Tool({Sim(), "key", "vol+"}).out, "HID Vol +: completed\n");
  const ToolRun never = Tool({Sim("mailbox=never"), "key", "play"});
  EXPECT_EQ(never.status, 1);
  EXPECT_CONTAINS(never.err, "did not complete the HID Play key");
}

TEST_F(ServiceCommands, CheckFileFindsTheMarkerAsTheEditorDoes) {
  std::string image(5000, '\x11');
  image.replace(0x1234, 13, "QVUSB_Table01");
  Write("marked.bin", image);
  Write("plain.bin", std::string(5000, '\x11'));
  Write("notes.txt", image);
  const ToolRun found = Tool({"check-file", "marked.bin"});
  EXPECT_EQ(found.status, 0);
  EXPECT_EQ(found.out, "marked.bin: user-parameter marker at 0x001234\n");
  const ToolRun none = Tool({"check-file", "plain.bin"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "plain.bin: no user-parameter marker\n");
  EXPECT_EQ(Tool({"check-file", "notes.txt"}).status, 2);
}

TEST_F(ServiceCommands, ABackupHoldsTheFlashAndRestoreGivesItBack) {
  Remove("flash.bin");
  const ToolRun backup = Tool({Sim(), "backup", "b.bin"});
  EXPECT_EQ(backup.status, 0) << backup.err;
  const std::string before = Flash();
  ASSERT_EQ(before.size(), kFlashSize);
  EXPECT_TRUE(Read("b.bin") == before);

  Write("fw.bin", Firmware(9000));
  const ToolRun update = Tool({Sim(), "update", "--yes", "--backup", "old.bin", "fw.bin"});
  EXPECT_EQ(update.status, 0) << update.err;
  EXPECT_TRUE(Read("old.bin") == before);
  EXPECT_TRUE(Flash() == Flashed(Firmware(9000)));

  const ToolRun restore = Tool({Sim(), "restore", "--yes", "old.bin"});
  EXPECT_EQ(restore.status, 0) << restore.err;
  // A restore runs the update's steps, but speaks of a restore.
  EXPECT_CONTAINS(restore.out, "Restore success!");
  EXPECT_EQ(restore.out.find("Firmware update"), std::string::npos) << restore.out;
  EXPECT_TRUE(Flash() == before);  // byte for byte, the older firmware and what followed it

  // A backup that cannot be read whole writes nothing, and then no update begins.
  Write("stale.bin", "earlier");
  const ToolRun failed = Tool({Sim("flip-reads=1"), "backup", "stale.bin"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(Read("stale.bin"), "earlier");
  const std::string flashed = Flash();
  const ToolRun refused =
      Tool({Sim("flip-reads=1"), "update", "--yes", "--backup", "stale.bin", "fw.bin"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_CONTAINS(refused.err, "no backup: the backup could not be read");
  EXPECT_CONTAINS(refused.err, "nothing was erased");
  EXPECT_TRUE(Flash() == flashed);
}

TEST_F(ServiceCommands, JsonDocumentsCarryTheResults) {
  const auto parse = [](const ToolRun& run) { return nlohmann::json::parse(run.out); };
  const nlohmann::json status = parse(Tool({Sim("status=090003"), "--json", "status"}));
  EXPECT_EQ(status["command"], "status");
  EXPECT_EQ(status["toolVersion"], QV_VERSION);
  EXPECT_EQ(status["exit"], 0);
  EXPECT_EQ(status["format"], "DSD");
  EXPECT_EQ(status["rate"], "DSD 128");
  EXPECT_EQ(status["device"]["name"], "Brevanto RX1");
  EXPECT_EQ(status["device"]["simulated"], true);

  const nlohmann::json dump = parse(Tool({Sim(), "--json", "reg", "dump", "0"}));
  ASSERT_EQ(dump["registers"].size(), 256u);
  EXPECT_EQ(dump["registers"][0xAE], 1);

  Write("fw.bin", Firmware(3000));
  const nlohmann::json update = parse(Tool({Sim(), "--json", "update", "--yes", "fw.bin"}));
  EXPECT_EQ(update["result"], "success");
  EXPECT_GT(update["modelledSeconds"].get<double>(), 0.0);
  std::vector<std::string> texts;
  for (const auto& step : update["steps"]) texts.push_back(step["text"]);
  EXPECT_EQ(texts.back(), "Firmware update success!");
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Verifying Success"), texts.end());

  const ToolRun failedRun = Tool({Sim("flip-reads=1"), "--json", "update", "--yes", "fw.bin"});
  EXPECT_EQ(failedRun.status, 1);
  const nlohmann::json failed = nlohmann::json::parse(failedRun.out);
  EXPECT_EQ(failed["result"], "failed");
  EXPECT_EQ(failed["exit"], 1);
  EXPECT_TRUE(failed["failure"]["text"].get<std::string>().starts_with("Blanking Fail at 0x"));
  EXPECT_TRUE(failed["failure"].contains("address"));
  EXPECT_EQ(failed["failure"]["step"], "blank-check");

  const ToolRun bad = Tool({Sim(), "--json", "reg", "read", "0", "x"});
  EXPECT_EQ(bad.status, 2);
  const nlohmann::json error = nlohmann::json::parse(bad.out);
  EXPECT_EQ(error["exit"], 2);
  EXPECT_EQ(error["toolVersion"], QV_VERSION);
  EXPECT_TRUE(error["error"].get<std::string>().starts_with("ADDR needs a number"));
  EXPECT_EQ(bad.err, "");

  const nlohmann::json list =
      parse(Tool({With("model=Brevanto_RX1,update-e6a4"), "--json", "list"}));
  ASSERT_EQ(list["devices"].size(), 2u);
  EXPECT_EQ(list["devices"][1]["driver"], "vendor");
}

// The probe, then the manufacturer's string, then the product's, which the device refuses: that
// one is unread, never an older value, and the run fails.
TEST_F(ServiceCommands, ParamShowShowsAStringItCouldNotReadAsUnread) {
  const ToolRun run = Tool({Sim("string1=Acme;fail-request=3"), "param", "show"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "vendor id: e5d3\nproduct id: 7a01\nmanufacturer: Acme\n"
            "product: unread (the device refused the request)\nserial number: QVSIM000001\n");
  EXPECT_CONTAINS(run.err, "1 value could not be read from the device");
  const ToolRun json = Tool({Sim("fail-request=3"), "--json", "param", "show"});
  const nlohmann::json document = nlohmann::json::parse(json.out);
  EXPECT_EQ(document["exit"], 1);
  EXPECT_TRUE(document["product"].is_null());
  EXPECT_EQ(document["unread"]["product"], "the device refused the request");
  EXPECT_EQ(document["vendorId"], "e5d3");
}

// The probe, the bank select, then the register read, which its driver answers without the byte:
// no value is shown for it.
TEST_F(ServiceCommands, AShortAnswerShowsNoRegisterValue) {
  const ToolRun run = Tool({Sim("short-request=3"), "-v", "reg", "read", "0", "0xAE"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_CONTAINS(run.err, "the register could not be read");
  // The trace shows no byte the driver did not return.
  EXPECT_CONTAINS(run.err, "IN  91 v=0000 i=00AE len=1 failed\n");
}

TEST_F(ServiceCommands, TheLogKeepsTheWholeTraceAFailingRequestIncluded) {
  // The probe, the bank select, then the register read fails.
  const ToolRun run = Tool({Sim("fail-request=3"), "--log", "trace.log", "reg", "read", "0", "0"});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.err, "the register could not be read");
  EXPECT_EQ(run.err.find("PROBE"), std::string::npos);  // -v was not given
  const std::string log = Read("trace.log");
  EXPECT_TRUE(
      log.starts_with("PROBE property set support ok\nOUT 90 v=0000 i=0000 len=1 [00] ok\n"))
      << log;
  EXPECT_CONTAINS(log, "IN  91 v=0000 i=0000 len=1 failed\n");
}

}  // namespace
}  // namespace qv::test
