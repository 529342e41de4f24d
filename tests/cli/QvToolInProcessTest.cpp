// qvtool run in the test's own process over a simulation the test owns, so that it can press
// Ctrl-C at an exact request, unplug the device mid-update and inspect the device afterwards.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/Interrupts.h"
#include "cli/QvTool.h"
#include "sim/SimSetup.h"
#include "tests/support/InProcessRun.h"
#include "tests/support/RequestHook.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TestFirmware.h"

namespace qv::test {
namespace {

class InProcessTool : public ::testing::Test {
 protected:
  explicit InProcessTool(const std::string& setup = "") : sim_(ParseSetupOrFail(setup)) {
    image_ = TestImage<std::string>(6000);
    file_ = dir_.Write("fw.bin", image_).string();
  }

  ToolRun Tool(std::vector<std::string> args, bool terminal = false, int columns = 80) {
    return RunInProcess(
        std::move(args),
        {.input = "", .outIsTerminal = terminal, .errIsTerminal = terminal, .columns = columns},
        [this] { return std::make_unique<RequestHook>(sim_, afterRequest); }, &interrupts_);
  }

  sim::SimDevice& device() { return sim_.Bus().Device(0); }
  sim::SimBus& bus() { return sim_.Bus(); }
  sim::Simulation& simulation() { return sim_; }
  std::chrono::microseconds Now() { return sim_.Clock().Now(); }
  const sim::RequestLog& log() { return sim_.Bus().Log(); }
  bool FlashHoldsImage() { return FlashHolds(device(), image_); }
  bool Sent(std::uint8_t instruction) {
    for (const auto& e : log().Entries())
      if (e.request == 0x80 && !e.data.empty() && e.data[0] == instruction && e.index == 1)
        return true;
    return false;
  }

  std::function<void()> afterRequest;
  std::atomic<int> interrupts_{0};
  std::string file_;
  std::string image_;

 private:
  TempDir dir_;
  sim::Simulation sim_;
};

TEST_F(InProcessTool, CtrlCStopsAtTheNextPageAndLeavesTheDeviceProtectedOutOfIspMode) {
  int pages = 0;
  afterRequest = [&] {
    const auto& last = log().Entries().back();
    if (last.request == 0x80 && !last.data.empty() && last.data[0] == 0x02 && ++pages == 3)
      interrupts_ = 1;
  };
  const ToolRun run = Tool({"update", "--yes", file_});
  EXPECT_EQ(run.status, 130);
  EXPECT_CONTAINS(run.out, "Stopped at 0x000300\n");
  EXPECT_EQ(run.out.find("ISP Fail and retry"), std::string::npos);
  EXPECT_CONTAINS(run.err,
                  "stopped. The flash is incomplete and the device will not start from "
                  "it: run the update again; it is write-protected and out of ISP mode");
  EXPECT_EQ(pages, 3);  // not one page more
  EXPECT_FALSE(device().Chip().Isp().InIspMode());
  EXPECT_EQ(device().Chip().Flash().Status() & 0xFC, 0xFC);
}

#ifndef _WIN32
TEST_F(InProcessTool, EverySignalThatEndsARunStopsItSafelyWhereverItArrives) {
  // The handlers the program installs, raised at a request of the update: during the erase, at
  // the third page and at the last one (verifying follows). Each run ends protected and out of
  // ISP mode, with Ctrl-C's code.
  std::atomic<int>& count = cli::InstallInterruptHandlers();
  const auto isPage = [](const sim::LoggedRequest& e) {
    return e.request == 0x80 && !e.data.empty() && e.data[0] == 0x02;
  };
  const std::pair<const char*, int> points[] = {{"erase", 0}, {"page", 3}, {"last page", 24}};
  for (const int signal : {SIGHUP, SIGTERM, SIGINT}) {
    for (const auto& [where, page] : points) {
      SCOPED_TRACE(std::string(strsignal(signal)) + " at " + where);
      int pages = 0;
      bool raised = false;
      afterRequest = [&, page = page] {
        const auto& last = log().Entries().back();
        const bool erase = last.request == 0x80 && last.data == std::vector<std::uint8_t>{0xC7};
        if (isPage(last)) ++pages;
        if (!raised && (page == 0 ? erase : isPage(last) && pages == page)) {
          raised = true;
          std::raise(signal);
        }
      };
      const ToolRun run = RunInProcess(
          {"update", "--yes", file_}, {.input = ""},
          [this] { return std::make_unique<RequestHook>(simulation(), afterRequest); }, &count);
      count = 0;
      EXPECT_TRUE(raised);
      EXPECT_EQ(run.status, 130) << run.err;
      EXPECT_CONTAINS(run.err, "it is write-protected and out of ISP mode");
      EXPECT_FALSE(device().Chip().Isp().InIspMode());
      EXPECT_EQ(device().Chip().Flash().Status() & 0xFC, 0xFC);
    }
  }
}
#endif

TEST_F(InProcessTool, ADeviceThatLeavesIsReportedGoneAtOnceAndNotTriedAgain) {
  // Where it leaves: right after the chip erase, the first blank-check fetch, or a page.
  struct Case {
    const char* name;
    std::function<bool(const sim::LoggedRequest&)> leavesAfter;
  };
  const Case cases[] = {
      {"erasing",
       [](const auto& e) {
         return e.request == 0x80 && e.data == std::vector<std::uint8_t>{0xC7};
       }},
      {"blank checking", [](const auto& e) { return e.request == 0x82 && e.length == 64; }},
      {"programming",
       [](const auto& e) { return e.request == 0x80 && !e.data.empty() && e.data[0] == 0x02; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device().GoneAfterRequests(std::numeric_limits<std::uint64_t>::max());
    bus().Replug(device());
    device().Clock().Advance(std::chrono::seconds(30));  // an erase cut short has ended
    std::optional<std::chrono::microseconds> left;
    afterRequest = [&] {
      if (!left && c.leavesAfter(log().Entries().back())) {
        device().GoneAfterRequests(device().RequestCount());
        left = Now();
      }
    };
    const ToolRun run = Tool({"update", "--yes", file_});
    afterRequest = nullptr;
    ASSERT_TRUE(left) << run.out << run.err;
    EXPECT_EQ(run.status, 1);
    EXPECT_CONTAINS(run.err,
                    "the device is gone (unplugged or reset during the command). The flash "
                    "is incomplete");
    EXPECT_EQ(run.out.find("ISP Fail and retry"), std::string::npos);
    EXPECT_EQ(run.out.find("Firmware update success!"), std::string::npos);
    // No wait of the erase, the status or the protection polls out its ten seconds.
    EXPECT_LT(Now() - *left, std::chrono::seconds(2));
  }
}

TEST_F(InProcessTool, AnInterruptedOrFailedBackupSaysSoInItsOwnWords) {
  const std::string backup = (std::filesystem::path(file_).parent_path() / "b.bin").string();
  int fetches = 0;
  afterRequest = [&] {
    if (log().Entries().back().request == 0x82 && ++fetches == 10) interrupts_ = 1;
  };
  const ToolRun stopped = Tool({"backup", backup});
  EXPECT_EQ(stopped.status, 130);
  EXPECT_CONTAINS(stopped.err, "qvtool: stopped: nothing was written\n");
  EXPECT_FALSE(std::filesystem::exists(backup));
  interrupts_ = 0;
  // Every second read of a block differs: the backup's own failure text, not the verify's.
  afterRequest = [&] {
    const auto& last = log().Entries().back();
    if (last.request == 0x82 && last.length == 64 && ++fetches % 2 == 0)
      device().FailRequestNumber(device().RequestCount() + 3);
  };
  const ToolRun failed = Tool({"backup", backup});
  EXPECT_EQ(failed.status, 1);
  EXPECT_CONTAINS(failed.out, "Reading Fail at 0x");
  EXPECT_EQ(failed.out.find("Verifying"), std::string::npos);
}

TEST_F(InProcessTool, GoneAfterTheVerifySucceedsWithAWarning) {
  const ToolRun clean = Tool({"update", "--yes", file_});
  ASSERT_EQ(clean.status, 0);
  // The requests after the verify's last fetch: the protection and leaving ISP mode.
  std::size_t lastFetch = 0;
  for (std::size_t i = 0; i < log().Size(); ++i)
    if (log()[i].request == 0x82 && log()[i].length == 64) lastFetch = i;
  const std::uint64_t total = device().RequestCount();
  ASSERT_GT(log().Size(), lastFetch + 2);
  // The same update again, the device leaving right after that fetch.
  device().GoneAfterRequests(total + lastFetch + 1);
  const ToolRun run = Tool({"update", "--yes", file_});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "Firmware update success!");
  EXPECT_CONTAINS(run.err,
                  "warning: the firmware is written and verified, but the flash could "
                  "not be write-protected again");
  EXPECT_TRUE(FlashHoldsImage());
}

TEST_F(InProcessTool, OneDisturbedIdentificationIsAskedAgainBeforeAnythingIsRefused) {
  bool armed = false;
  afterRequest = [&] {
    // After the ISP switch: bank select, two set-up writes, then the identification's request.
    if (!armed && log().Entries().back().request == 0x84) {
      device().FailRequestNumber(device().RequestCount() + 4);
      armed = true;
    }
  };
  const ToolRun run = Tool({"update", "--yes", file_});
  EXPECT_EQ(run.status, 0) << run.err;
  std::size_t identifications = 0;
  for (const auto& e : log().Entries())
    identifications += e.request == 0x81 && e.data == std::vector<std::uint8_t>{0x9F};
  EXPECT_EQ(identifications, 2u);
  EXPECT_TRUE(FlashHoldsImage());
}

// The same service commands the end-to-end tests run through the shell, here also where the
// shell is not (the Windows build under Wine): the device the test holds shows their effect.
TEST_F(InProcessTool, ServiceCommandsChangeAndShowTheDevice) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{"reg", "write", "0", "0xAE", "7"}, 0, "0x01\n"},
      {{"reg", "write", "3", "0x44", "0x99"}, 0, "0x99\n"},
      {{"reg", "read", "3", "0x44"}, 0, "0x99\n"},  // the device the test holds keeps it
      {{"i2c", "read", "0x40", "0"}, 1, ""},
      {{"i2c", "write", "0x20", "5", "0x11"}, 0, "written 1 byte\n"},
      {{"i2c", "read", "0x20", "5"}, 0, "0x11\n"},
      {{"settings", "set", "dsd-out=dop"}, 0, ""},
      {{"status"}, 0, "connection: USB connected\nmute: Playing\nformat: PCM\nrate: 48KHz\n"},
      {{"key", "next"}, 0, "HID Next: completed\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    const ToolRun run = Tool(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (!c.out.empty()) {
      EXPECT_EQ(run.out, c.out);
    }
  }
  EXPECT_EQ(device().Chip().Mailbox().Settings()[0], 0x21);  // A1 with DSD output off
  EXPECT_EQ(device().Chip().Mailbox().Keys().back(), 0x20);
  const ToolRun json = Tool({"--json", "reg", "read", "3", "0x44"});
  const auto document = nlohmann::json::parse(json.out);
  EXPECT_EQ(document["value"], 0x99);
}

// What param stores, the device reports once it is plugged in again, as the chip reads its
// descriptors then: until then show gives what it enumerated with.
TEST_F(InProcessTool, ParamShowReportsStoredValuesOnceTheDeviceIsPluggedInAgain) {
  const std::string before =
      "vendor id: e5d3\nproduct id: 7a01\nmanufacturer: Quorvex-inc\n"
      "product: Quorvex-inc UAC2 22\nserial number: QVSIM000001\n";
  EXPECT_EQ(Tool({"param", "show"}).out, before);
  ASSERT_EQ(Tool({"--yes", "param", "set-pid", "7a02"}).status, 0);
  ASSERT_EQ(Tool({"param", "set-string", "2", "Studio Two"}).status, 0);
  ASSERT_EQ(Tool({"param", "set-string", "3", "SN-42"}).status, 0);
  EXPECT_EQ(Tool({"param", "show"}).out, before);

  bus().Unplug(device());
  bus().Replug(device());
  const ToolRun after = Tool({"param", "show"});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(after.out,
            "vendor id: e5d3\nproduct id: 7a02\nmanufacturer: Quorvex-inc\n"
            "product: Studio Two\nserial number: SN-42\n");
  EXPECT_EQ(nlohmann::json::parse(Tool({"--json", "param", "show"}).out)["device"]["name"],
            "Brevanto RX2");
}

class NoFlash : public InProcessTool {
 protected:
  NoFlash() : InProcessTool("flash=none") {}
};

TEST_F(NoFlash, UpdateAndEraseStopBeforeAnythingIsErasedUnlessForced) {
  for (const char* command : {"update", "erase"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args{command, "--yes"};
    if (std::string(command) == "update") args.push_back(file_);
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_CONTAINS(run.err,
                    "the flash does not answer its identification (FF FF FF): nothing "
                    "was erased. Check the device, or pass --force");
    EXPECT_FALSE(Sent(0xC7));
    EXPECT_FALSE(Sent(0x01));  // the protection was not touched either
    EXPECT_FALSE(device().Chip().Isp().InIspMode());
  }
  const ToolRun forced = Tool({"update", "--yes", "--force", file_});
  EXPECT_EQ(forced.status, 1);
  EXPECT_TRUE(Sent(0xC7));
  EXPECT_EQ(forced.out.find("Firmware update success!"), std::string::npos);
}

TEST_F(InProcessTool, OnANarrowTerminalEveryLineFitsAndEveryStepIsMarkedDone) {
  const ToolRun run = Tool({"update", "--yes", file_}, true, 50);
  EXPECT_EQ(run.status, 0);
  std::size_t longest = 0;
  std::string line;
  for (char c : run.out) {
    if (c == '\r' || c == '\n') {
      if (!line.starts_with("Device: ")) longest = std::max(longest, line.size());
      line.clear();
    } else {
      line += c;
    }
  }
  EXPECT_LE(longest, 49u);
  for (const char* done : {"Enter ISP Mode  done", "Clear Status register  done", "  done\n",
                           "Blanking Success", "Programming Success", "Verifying Success"})
    EXPECT_CONTAINS(run.out, done);
  // The erase line is marked too, whatever number of dots it had reached.
  EXPECT_NE(run.out.find("Flash Erase All"), std::string::npos);
  const std::size_t erase = run.out.rfind("Flash Erase All");
  EXPECT_NE(run.out.find("  done", erase), std::string::npos);
}

TEST_F(InProcessTool, TheJsonNamesEachStepAndTheFailuresStepAndAddress) {
  const auto names = [](const nlohmann::json& document) {
    std::vector<std::string> list;
    for (const auto& step : document["steps"]) list.push_back(step["name"]);
    return list;
  };
  const ToolRun update = Tool({"--json", "update", "--yes", file_});
  ASSERT_EQ(update.status, 0) << update.err;
  EXPECT_EQ(
      names(nlohmann::json::parse(update.out)),
      (std::vector<std::string>{"isp-enter", "clear-status", "erase", "blank-check", "blank-check",
                                "program", "program", "verify", "verify", "result"}));

  device().Chip().Flash().MutableContents()[0x1C3] ^= 0x10;
  const ToolRun verify = Tool({"--json", "verify", file_});
  EXPECT_EQ(verify.status, 1);
  const nlohmann::json failed = nlohmann::json::parse(verify.out);
  EXPECT_EQ(names(failed), (std::vector<std::string>{"verify", "verify"}));
  EXPECT_EQ(failed["failure"],
            (nlohmann::json{
                {"step", "verify"}, {"text", "Verifying Fail at 0x0001C3"}, {"address", 0x1C3}}));
}

// The trace goes to its file as the requests go, one line each: a run that is killed keeps what
// it traced, and a long one holds none of it in memory. The file is this run's alone. qvtool's
// own simulation keeps no request log of its own either: nobody would read it.
TEST_F(InProcessTool, TheLogIsInItsFileAsTheRequestsGoAndTheSimulatorKeepsNone) {
  const std::string trace = (std::filesystem::path(file_).parent_path() / "trace.log").string();
  { std::ofstream(trace) << "an earlier run's trace\n"; }
  std::size_t requests = 0, tracedAt100 = 0;
  afterRequest = [&] {
    // The trace's line of a request follows its answer: 99 before the hundredth's.
    if (++requests == 100) tracedAt100 = std::ranges::count(ReadFile(trace), '\n');
  };
  const ToolRun run = Tool({"--log", trace, "update", "--yes", file_});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(tracedAt100, 99u);
  const std::string text = ReadFile(trace);
  EXPECT_EQ(static_cast<std::size_t>(std::ranges::count(text, '\n')), requests);
  EXPECT_EQ(text.find("earlier"), std::string::npos);

  const cli::PortsResult own = cli::SimulatedPorts("model=Brevanto_RX1");
  ASSERT_TRUE(own.ports) << own.error;
  auto& ownBus = dynamic_cast<sim::SimBus&>(own.ports->Io());
  const NativeHandle handle = ownBus.Open(ownBus.Device(0).InterfacePath().c_str());
  std::vector<std::uint8_t> record(24), answer(18);
  ownBus.Control(handle, 0x22242E, record, answer);
  ownBus.Close(handle);
  EXPECT_EQ(ownBus.Log().Size(), 0u);
}

}  // namespace
}  // namespace qv::test
