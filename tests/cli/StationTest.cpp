// `update --watch` in the test's process over a simulation whose devices are plugged in and taken
// out on a schedule, each on its own virtual clock. These tests also run under ThreadSanitizer.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/SimSetup.h"
#include "tests/support/InProcessRun.h"
#include "tests/support/RequestHook.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TestFirmware.h"

namespace qv::test {
namespace {

constexpr const char* kPort0 = "5&2c3d4e5f&0&2";
constexpr const char* kPort1 = "5&2c3d4e5f&0&3";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class Station : public ::testing::Test {
 protected:
  // Port 0: plugged in at 100 ms and left there. Port 1: plugged in at 200 ms and pulled out
  // 300 ms later, in the middle of its update, then plugged in again at 20 s. Port 2: another
  // model, never touched. Port 3: there from the start, so not "plugged in from now on".
  explicit Station(const std::string& setup =
                       "model=Brevanto_RX1,Brevanto_RX1,Brevanto_RX2,Brevanto_RX1;"
                       "schedule=100-,200-500+20000-,50-")
      : sim_(ParseSetupOrFail(setup)) {
    image_ = TestImage<std::string>(6000);
    file_ = dir_.Write("Brevanto_RX1.bin", image_).string();
    record_ = (dir_.Path() / "record.jsonl").string();
  }

  ToolRun Tool(std::vector<std::string> args) {
    return RunInProcess(
        std::move(args), {}, [this] { return std::make_unique<RequestHook>(sim_, afterRequest); },
        &interrupts_);
  }
  sim::SimDevice& device(std::size_t i) { return sim_.Bus().Device(i); }
  std::string Record() { return ReadFile(record_); }

  std::function<void()> afterRequest;
  std::atomic<int> interrupts_{0};
  std::string file_, image_, record_;
  TempDir dir_;
  sim::Simulation sim_;
};

TEST_F(Station, EachArrivalIsUpdatedOnceAndEveryFinishedDeviceIsALineOfTheRecord) {
  // A record from an earlier run, its last line cut off by a crash: kept as it is.
  { std::ofstream(record_, std::ios::binary) << "{\"earlier\":1}\n{\"cut"; }
  const ToolRun run =
      Tool({"update", "--watch", "--yes", "--count", "3", "--record", record_, file_});
  EXPECT_EQ(run.status, 1) << run.err;  // the one pulled out mid-update failed
  EXPECT_CONTAINS(run.out, std::string("port ") + kPort1 + ": left\n");
  EXPECT_CONTAINS(run.out, "already plugged in when the station started, not updated");
  EXPECT_CONTAINS(run.out, "updated 2, failed 1, time ");
  EXPECT_TRUE(FlashHolds(device(0), image_));
  EXPECT_TRUE(FlashHolds(device(1), image_));  // its second plugging in
  EXPECT_FALSE(FlashHolds(device(2), image_));
  EXPECT_FALSE(FlashHolds(device(3), image_));

  const std::vector<std::string> lines = Lines(Record());
  ASSERT_EQ(lines.size(), 5u) << Record();
  EXPECT_EQ(lines[0], "{\"earlier\":1}");
  EXPECT_EQ(lines[1], "{\"cut");
  std::vector<nlohmann::json> done;
  for (std::size_t i = 2; i < lines.size(); ++i) done.push_back(nlohmann::json::parse(lines[i]));
  std::map<std::string, std::vector<std::string>> results;
  for (const auto& line : done) {
    results[line["port"]].push_back(line["result"]);
    EXPECT_EQ(line["file"], "Brevanto_RX1.bin");
    EXPECT_EQ(line["model"], "Brevanto RX1");
    EXPECT_TRUE(line["time"].get<std::string>().ends_with("Z"));
    EXPECT_GT(line["seconds"].get<double>(), 0.0);
  }
  EXPECT_EQ(results[kPort0], (std::vector<std::string>{"success"}));
  EXPECT_EQ(results[kPort1], (std::vector<std::string>{"failed", "success"}));
  for (const auto& line : done) {
    if (line["result"] != "failed") continue;
    EXPECT_CONTAINS(line["error"].get<std::string>(), "the device is gone");
    EXPECT_CONTAINS(line["error"].get<std::string>(), "The flash is incomplete");
  }
}

TEST_F(Station, JsonGivesTheRecordsLinesAndASummaryLine) {
  const ToolRun run = Tool({"--json", "update", "--watch", "--yes", "--count", "1", file_});
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(nlohmann::json::parse(lines[0])["port"], kPort0);
  const nlohmann::json summary = nlohmann::json::parse(lines[1]);
  EXPECT_EQ(summary["updated"], 1);
  EXPECT_EQ(summary["exit"], 0);
}

// One device on the bench, so that nothing else can end while the key is pressed.
class OnePort : public Station {
 protected:
  OnePort() : Station("model=Brevanto_RX1;schedule=100-") {}
};

TEST_F(OnePort, CtrlCStopsTheDevicesUnderWayAndLeavesThemSafe) {
  // Pressed while the first device is under way, from its own thread.
  std::atomic<int> requests{0};
  afterRequest = [&] {
    if (++requests == 40) interrupts_ = 1;
  };
  const ToolRun run = Tool({"update", "--watch", "--yes", file_});
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_CONTAINS(run.err, "stopped: updated 0, failed 0, stopped 1");
  EXPECT_FALSE(device(0).Chip().Isp().InIspMode());
  EXPECT_EQ(device(0).Chip().Flash().Status() & 0xFC, 0xFC);
}

TEST_F(Station, WithoutAnAnswerNothingIsWatched) {
  const ToolRun run = Tool({"update", "--watch", file_});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.out, "Update every Brevanto RX1 plugged in from now on? [y/N]");
  EXPECT_EQ(device(0).RequestCount(), 0u);
}

// The bench's results are worth no more than the simulated flash they went to: a flash file that
// could not be kept fails the run, as it fails a single update.
TEST(StationFlashFile, AFlashThatCouldNotBeKeptInItsFileIsNoSuccess) {
  TempDir dir;
  const std::filesystem::path flash = dir.Path() / "flash.bin";
  sim::Simulation simulation(
      ParseSetupOrFail("model=Brevanto_RX1;schedule=100-;flash-file=" + flash.string()));
  const std::string file = dir.Write("Brevanto_RX1.bin", std::string(3000, 'x')).string();
  bool taken = false;  // touched on the device's thread only
  const auto takeTheFilesPlace = [&] {
    if (taken) return;
    taken = true;
    std::filesystem::remove(flash);
    std::filesystem::create_directory(flash);
  };
  const ToolRun run = RunInProcess(
      {"update", "--watch", "--yes", "--count", "1", file}, {},
      [&] { return std::make_unique<RequestHook>(simulation, takeTheFilesPlace); }, nullptr);
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_CONTAINS(run.err, "qvtool: simulator: ");
  EXPECT_CONTAINS(run.out, "updated 1, failed 0");
}

// On the virtual clock the station's time is its devices' time: it wakes when the schedule brings
// the next device, follows the work under way without running ahead of it, and spins through no
// time of its own.
TEST(StationClock, TheStationsTimeIsTheTimeItsDevicesCameAndWorked) {
  TempDir dir;
  sim::Simulation simulation(
      ParseSetupOrFail("model=Brevanto_RX1,Brevanto_RX1;schedule=1000-,600000-"));
  const std::string file = dir.Write("Brevanto_RX1.bin", TestImage<std::string>(6000)).string();
  const ToolRun run = RunInProcess(
      {"--json", "update", "--watch", "--yes", "--count", "2", file}, {},
      [&] { return cli::PortsOver(simulation); }, nullptr);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  const double seconds = nlohmann::json::parse(lines.back())["seconds"].get<double>();
  const double last =
      std::chrono::duration<double>(simulation.Bus().Device(1).Clock().Now()).count();
  EXPECT_GE(seconds, 600.0);
  EXPECT_GT(last, 600.0);  // the second device's update took time of its own
  EXPECT_LE(seconds, last);
}

// A wall clock whose every pause wakes a millisecond late, as a busy host's does.
class LateClock final : public Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override {
    now_ += std::chrono::milliseconds(milliseconds + 1);
  }
  std::chrono::microseconds Now() const override { return now_; }
  static constexpr std::chrono::microseconds kStart{5'000'000};

 private:
  std::chrono::microseconds now_ = kStart;
};

// In real time the devices keep the wall clock's time: waits that wake late do not add up, so a
// device the schedule plugs in at 2 s comes at 2 s of wall time, not 10% later.
TEST(StationClock, InRealTimeLateWakingsDoNotAddUp) {
  sim::Simulation simulation(ParseSetupOrFail("model=Brevanto_RX1;real-time=1;schedule=2000-"));
  LateClock wall;
  const std::unique_ptr<cli::DevicePorts> ports = cli::PortsOver(simulation, &wall);
  for (int waits = 0; waits < 100; ++waits)
    if (ports->WaitForChange(std::chrono::milliseconds(250), {})) break;
  sim::SimDevice& device = simulation.Bus().Device(0);
  ASSERT_TRUE(simulation.Bus().IsPlugged(device));
  const std::chrono::microseconds elapsed = wall.Now() - LateClock::kStart;
  EXPECT_GE(elapsed, std::chrono::milliseconds(2000));
  EXPECT_LE(elapsed, std::chrono::milliseconds(2002));
  EXPECT_EQ(device.Clock().Now(), elapsed);
}

}  // namespace
}  // namespace qv::test
