// `update --all` in the test's process over a simulation the test owns: several devices updated
// side by side on their own threads, on their own virtual clocks. These tests also run under
// ThreadSanitizer.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/DevicePorts.h"
#include "cli/QvTool.h"
#include "sim/SimSetup.h"
#include "tests/support/InProcessRun.h"
#include "tests/support/RequestHook.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TerminalScreen.h"
#include "tests/support/TestFirmware.h"

namespace qv::test {
namespace {

constexpr const char* kFirst = "Brevanto RX1 5&2c3d4e5f&0&2";
constexpr const char* kSecond = "Brevanto RX1 5&2c3d4e5f&0&3";
constexpr const char* kThird = "Brevanto RX1 5&2c3d4e5f&0&5";

class UpdateAll : public ::testing::Test {
 protected:
  explicit UpdateAll(const std::string& setup =
                         "model=Brevanto_RX1,Brevanto_RX1,Brevanto_RX2,Brevanto_RX1,update-e6a4")
      : sim_(ParseSetupOrFail(setup)) {
    image_ = TestImage<std::string>(6000);
    file_ = dir_.Write("Brevanto_RX1.bin", image_).string();
  }

  ToolRun Tool(std::vector<std::string> args, const std::string& input = "", bool terminal = false,
               int columns = 72) {
    return RunInProcess(
        std::move(args),
        {.input = input,
         .inIsTerminal = !input.empty(),
         .outIsTerminal = terminal,
         .columns = columns},
        [this] { return std::make_unique<RequestHook>(sim_, afterRequest); }, &interrupts_);
  }

  sim::SimDevice& device(std::size_t i) { return sim_.Bus().Device(i); }
  bool HoldsImage(std::size_t i) { return FlashHolds(device(i), image_); }
  // Left as a single update leaves a device: write-protected and out of ISP mode.
  void ExpectLeftSafe(std::size_t i) {
    EXPECT_FALSE(device(i).Chip().Isp().InIspMode()) << "device " << i;
    EXPECT_EQ(device(i).Chip().Flash().Status() & 0xFC, 0xFC) << "device " << i;
  }

  std::function<void(NativeHandle)> afterRequest;
  std::atomic<int> interrupts_{0};
  std::string file_;
  std::string image_;

 private:
  TempDir dir_;
  sim::Simulation sim_;
};

// The progress lines of the piped output: everything after the question, before the table.
std::vector<std::string> ProgressLines(const std::string& out) {
  std::vector<std::string> lines;
  // The answer's echo would end the question's line on a terminal; here the first progress line
  // follows it.
  const std::size_t asked = out.find("[y/N] ");
  std::istringstream text(asked == std::string::npos ? out : out.substr(asked + 6));
  for (std::string line; std::getline(text, line) && !line.starts_with("device ");)
    if (!line.empty() && !line.starts_with("Device: ")) lines.push_back(line);
  return lines;
}

TEST_F(UpdateAll, EveryDeviceOfTheModelGetsTheImageInItsOwnFlashAndTwinsAreToldApart) {
  const ToolRun run = Tool({"-v", "update", "--all", file_}, "y\n");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_CONTAINS(run.out, "Update 3 devices? [y/N]");
  // The request trace: whole lines, each device's led by its label once the devices start.
  std::size_t traced[3] = {};
  std::istringstream trace(run.err);
  for (std::string line; std::getline(trace, line);) {
    for (std::size_t i = 0; const char* label : {kFirst, kSecond, kThird})
      traced[i++] += line.starts_with(std::string(label) + ": ");
  }
  for (std::size_t count : traced) EXPECT_GT(count, 500u);
  for (std::size_t i : {0u, 1u, 3u}) {
    EXPECT_TRUE(HoldsImage(i)) << "device " << i;
    ExpectLeftSafe(i);
  }
  // Another model and the device in firmware-update mode were not even asked.
  EXPECT_EQ(device(2).Log().Size(), 0u);
  EXPECT_EQ(device(4).Log().Size(), 0u);

  // Each progress line names its device; each device went through the whole sequence.
  const auto lines = ProgressLines(run.out);
  for (const std::string& line : lines)
    EXPECT_TRUE(line.starts_with(kFirst) || line.starts_with(kSecond) || line.starts_with(kThird))
        << line;
  for (const char* label : {kFirst, kSecond, kThird}) {
    EXPECT_CONTAINS(run.out, std::string(label) + ": Start Programming\n");
    EXPECT_CONTAINS(run.out, std::string(label) + ": Firmware update success!\n");
  }
  // The table: one row per device with its result and its time on its own clock.
  const std::string table = run.out.substr(run.out.find("\ndevice "));
  EXPECT_CONTAINS(table, "device                       result                    time\n");
  EXPECT_CONTAINS(table, std::string(kFirst) + "  Firmware update success!  ");
  EXPECT_CONTAINS(table, std::string(kSecond) + "  Firmware update success!  ");
  EXPECT_CONTAINS(table, std::string(kThird) + "  Firmware update success!  ");
}

TEST_F(UpdateAll, OnATerminalEachDeviceKeepsOneLineThatEndsWithItsResult) {
  device(1).GoneAfterRequests(400);
  const ToolRun run = Tool({"update", "--all", "--yes", file_}, "", true);
  EXPECT_EQ(run.status, 1);
  const std::vector<std::string> screen = Screen(run.out);
  const auto row = std::find_if(screen.begin(), screen.end(),
                                [](const std::string& line) { return line.starts_with(kFirst); });
  ASSERT_NE(row, screen.end()) << run.out;
  ASSERT_GE(screen.end() - row, 3);
  EXPECT_EQ(row[0], std::string(kFirst) + "  Firmware update success!");
  EXPECT_TRUE(row[1].starts_with(std::string(kSecond) + "  ")) << row[1];
  EXPECT_NE(row[1].find("Fail"), std::string::npos) << row[1];
  EXPECT_EQ(row[2], std::string(kThird) + "  Firmware update success!");
  // Every redraw of a bar fits the terminal; the table and the messages after them are plain
  // text.
  std::size_t redraws = 0;
  for (std::size_t at = run.out.find("A\r"); at != std::string::npos;
       at = run.out.find("A\r", at + 1), ++redraws) {
    const std::string drawn = run.out.substr(at + 2, run.out.find("\x1b[K", at) - at - 2);
    EXPECT_LE(drawn.size(), 72u) << drawn;
  }
  EXPECT_GT(redraws, 30u);
}

TEST_F(UpdateAll, ATerminalTooNarrowForTheRowsGetsLabelledLines) {
  const ToolRun run = Tool({"update", "--all", "--yes", file_}, "", true, 60);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
  EXPECT_CONTAINS(run.out, std::string(kSecond) + ": Firmware update success!\n");
}

TEST_F(UpdateAll, OneDeviceThatFailsFailsTheRunAndTheOthersAreUpdated) {
  device(1).GoneAfterRequests(400);  // amid the blank check
  const ToolRun run = Tool({"--json", "update", "--all", "--yes", file_});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(HoldsImage(0));
  EXPECT_TRUE(HoldsImage(3));
  EXPECT_FALSE(HoldsImage(1));
  ExpectLeftSafe(0);
  ExpectLeftSafe(3);

  const auto document = nlohmann::json::parse(run.out);
  EXPECT_EQ(document["exit"], 1);
  EXPECT_EQ(document["result"], "2 of 3 devices updated");
  const auto& devices = document["devices"];
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0]["label"], kFirst);
  EXPECT_EQ(devices[0]["result"], "success");
  EXPECT_EQ(devices[2]["result"], "success");
  const auto& failed = devices[1];
  EXPECT_EQ(failed["label"], kSecond);
  EXPECT_EQ(failed["result"], "failed");
  EXPECT_EQ(failed["exit"], 1);
  EXPECT_EQ(failed["path"], device(1).InterfacePath());
  EXPECT_CONTAINS(failed["error"].get<std::string>(), "the device is gone");
  EXPECT_TRUE(failed["failure"].contains("address")) << failed.dump(2);
  EXPECT_EQ(failed["failure"]["step"], "blank-check") << failed.dump(2);
  EXPECT_GT(devices[0]["seconds"].get<double>(), 0.0);
}

TEST_F(UpdateAll, TheTableShowsAFailureWithItsTextAndAddress) {
  device(0).GoneAfterRequests(400);
  const ToolRun run = Tool({"update", "--all", "--yes", file_});
  EXPECT_EQ(run.status, 1);
  const std::string table = run.out.substr(run.out.find("\ndevice "));
  EXPECT_CONTAINS(table, std::string(kFirst) + "  Firmware update Fail! Blanking Fail at 0x");
  EXPECT_CONTAINS(table, std::string(kSecond) + "  Firmware update success!");
  EXPECT_CONTAINS(run.out, std::string(kFirst) + ": the device is gone");
  EXPECT_CONTAINS(run.err, "qvtool: 2 of 3 devices updated");
}

TEST_F(UpdateAll, ADeviceInFirmwareUpdateModeJoinsOnlyWhenNamed) {
  // --device narrows the devices to those it names: here the one in firmware-update mode.
  const ToolRun run = Tool({"--device", "e6a4", "update", "--all", file_}, "y\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(HoldsImage(4));
  EXPECT_FALSE(HoldsImage(0));
  EXPECT_CONTAINS(run.out, "Update 1 device?");

  const ToolRun unknown = Tool({"--device", "e7b2", "update", "--all", "--yes", file_});
  EXPECT_EQ(unknown.status, 3);
  EXPECT_CONTAINS(unknown.err, "No device matches 'e7b2'. Present:");

  // One of the model's devices by its path; and another model, which the file is not for.
  const ToolRun one = Tool({"--device", "5&2c3d4e5f&0&3", "update", "--all", "--yes", file_});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_TRUE(HoldsImage(1));
  EXPECT_FALSE(HoldsImage(3));
  const ToolRun other = Tool({"--device", "Brevanto RX2", "update", "--all", "--yes", file_});
  EXPECT_EQ(other.status, 2);
  EXPECT_CONTAINS(other.err, "--device 'Brevanto RX2' names no Brevanto RX1");
}

TEST_F(UpdateAll, NotConfirmedSendsNothingToAnyDevice) {
  const ToolRun run = Tool({"update", "--all", file_}, "n\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.out, "Update 3 devices? [y/N]");
  for (std::size_t i = 0; i < 5; ++i) EXPECT_FALSE(device(i).Chip().Isp().InIspMode());
  EXPECT_FALSE(HoldsImage(0));
}

TEST_F(UpdateAll, CtrlCStopsEveryDeviceAndLeavesEachProtectedOutOfIspMode) {
  // Ctrl-C once every device is amid its programming, each having erased its flash: the
  // devices wait for each other there, however the threads happen to be scheduled. A mutex and a
  // condition rather than std::barrier: the MinGW-w64 build's atomic waits can miss a wake-up
  // and hang the waiters.
  std::mutex lock;
  std::condition_variable allThere;
  int arrived = 0;
  afterRequest = [&](NativeHandle handle) {
    // The simulated bus numbers its handles by port, from 1 in the upper half.
    if (device((handle >> 32) - 1).RequestCount() != 600) return;
    std::unique_lock held(lock);
    if (++arrived == 3) {
      interrupts_ = 1;
      allThere.notify_all();
    }
    allThere.wait(held, [&] { return arrived == 3; });
  };
  const ToolRun run = Tool({"update", "--all", "--yes", file_});
  EXPECT_EQ(run.status, 130) << run.out << run.err;
  for (std::size_t i : {0u, 1u, 3u}) {
    ExpectLeftSafe(i);
    EXPECT_FALSE(HoldsImage(i));
  }
  EXPECT_CONTAINS(run.out, std::string(kFirst) + ": Stopped at 0x");
  EXPECT_CONTAINS(run.err, "stopped: 0 of 3 devices updated");
}

TEST_F(UpdateAll, BackupIsRefusedBeforeAnythingIsSent) {
  const ToolRun run = Tool({"update", "--all", "--yes", "--backup", "b.bin", file_});
  EXPECT_EQ(run.status, 2);
  EXPECT_CONTAINS(run.err, "--backup keeps one device's flash");
  EXPECT_EQ(device(0).Log().Size(), 0u);
}

TEST_F(UpdateAll, AFileNamedForNoModelIsRefused) {
  TempDir dir;
  const std::string file = dir.Write("firmware.bin", image_).string();
  const ToolRun run = Tool({"update", "--all", "--yes", file});
  EXPECT_EQ(run.status, 2);
  EXPECT_CONTAINS(run.err, "firmware.bin carries no model's name");
}

// Each device's work pauses on that device's clock; in real time the pause is real as well.
TEST(UpdateAllClocks, EachDeviceIsPausedOnItsOwnClock) {
  for (const char* setup :
       {"model=Brevanto_RX1,Brevanto_RX1", "model=Brevanto_RX1,Brevanto_RX1;real-time=1"}) {
    SCOPED_TRACE(setup);
    sim::Simulation simulation(ParseSetupOrFail(setup));
    const auto ports = cli::PortsOver(simulation);
    sim::SimDevice& first = simulation.Bus().Device(0);
    sim::SimDevice& second = simulation.Bus().Device(1);
    cli::SimulationView& view = *ports->Simulation();
    Clock& clock = view.ClockFor(first.InterfacePath());
    EXPECT_NE(&clock, &view.ClockFor(second.InterfacePath()));
    EXPECT_EQ(&clock, &view.ClockFor(first.InterfacePath()));
    const auto before = clock.Now();
    clock.Sleep(2);
    EXPECT_GE(clock.Now() - before, std::chrono::milliseconds(2));
    EXPECT_EQ(first.Clock().Now(), std::chrono::milliseconds(2));
    EXPECT_EQ(second.Clock().Now(), std::chrono::microseconds(0));
  }
}

class UpdateAllWithoutTheModel : public UpdateAll {
 protected:
  UpdateAllWithoutTheModel() : UpdateAll("model=Brevanto_RX2,update-e6a4") {}
};

TEST_F(UpdateAllWithoutTheModel, NoDeviceOfTheModelListsWhatIsPresent) {
  const ToolRun run = Tool({"update", "--all", "--yes", file_});
  EXPECT_EQ(run.status, 3);
  EXPECT_CONTAINS(run.err, "qvtool: no Brevanto RX1 is present\n  Brevanto RX2  vid_e5d3&pid_7a02");
  EXPECT_CONTAINS(run.err, "vid_e6a4&pid_6000");
}

}  // namespace
}  // namespace qv::test
