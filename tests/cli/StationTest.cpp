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
#include "tests/support/TerminalScreen.h"
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

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// The results of a record's lines, by port, in the order they were written.
std::map<std::string, std::vector<std::string>> ResultsByPort(const std::string& record) {
  std::map<std::string, std::vector<std::string>> results;
  for (const std::string& line : Lines(record)) {
    const nlohmann::json json = nlohmann::json::parse(line);
    results[json["port"]].push_back(json["result"]);
  }
  return results;
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

  ToolRun Tool(std::vector<std::string> args, const InProcessStreams& surroundings = {}) {
    return RunInProcess(
        std::move(args), surroundings,
        [this] { return std::make_unique<RequestHook>(sim_, afterRequest); }, &interrupts_);
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

// A plugging in is told by what the bus numbers it with, not by its path. Port 1: pulled out for
// 1 ms during the erase, the device fails and is updated once more. Port 2: the device there from
// the start is swapped for another within 1 ms, which is updated, then pulled out for 1 ms after
// its update and updated again. Port 3's device, plugged in late three times, ends a run that
// misses them.
class Replugs : public Station {
 protected:
  Replugs()
      : Station(
            "model=Brevanto_RX1,Brevanto_RX1,Brevanto_RX1,Brevanto_RX1;port=1,2,2,3;"
            "schedule=100-400+401-,0-3000,3001-5000+5001-,60000-61000+62000-63000+64000-") {}
};

TEST_F(Replugs, AReplugWithin1MsAndASwapOnOnePortAreEachUpdated) {
  const ToolRun run =
      Tool({"update", "--watch", "--yes", "--count", "4", "--record", record_, file_});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  const auto results = ResultsByPort(Record());
  EXPECT_EQ(results.at(kPort0), (std::vector<std::string>{"failed", "success"})) << Record();
  EXPECT_EQ(results.at(kPort1), (std::vector<std::string>{"success", "success"})) << Record();
  EXPECT_FALSE(results.contains("5&2c3d4e5f&0&4")) << Record();
  EXPECT_TRUE(FlashHolds(device(0), image_));
  EXPECT_FALSE(FlashHolds(device(1), image_));
  EXPECT_TRUE(FlashHolds(device(2), image_));
}

// A narrow terminal, a device pulled out mid-update and one of another model: replayed through a
// terminal of that width, every port is one row that ends with its device's last word.
TEST_F(Station, OnANarrowTerminalEachPortIsOneRowWithItsResult) {
  constexpr std::size_t kColumns = 50;
  const ToolRun run =
      Tool({"update", "--watch", "--yes", "--count", "2", file_},
           {.input = "", .outIsTerminal = true, .errIsTerminal = true, .columns = kColumns});
  const std::vector<std::string> screen = Screen(run.out, kColumns);
  const auto rowOf = [&](const std::string& port) {
    std::vector<std::string> rows;
    for (const std::string& row : screen)
      if (row.starts_with("port " + port)) rows.push_back(row);
    return rows;
  };
  const auto first = rowOf(kPort0), second = rowOf(kPort1), other = rowOf("5&2c3d4e5f&0&4");
  ASSERT_EQ(first.size(), 1u) << run.out;
  ASSERT_EQ(second.size(), 1u) << run.out;
  ASSERT_EQ(other.size(), 1u) << run.out;
  EXPECT_CONTAINS(first[0], "Firmware update success!");
  EXPECT_CONTAINS(second[0], "Firmware update Fail!");
  EXPECT_CONTAINS(other[0], "Brevanto RX2 plugged in");
  for (const auto& row : {first[0], second[0], other[0]}) EXPECT_LT(row.size(), kColumns) << row;
}

// Every device the station leaves alone is named once, with why: another model, one in
// firmware-update mode, one that came after --count was reached, one there from the start.
TEST(StationNames, EveryDeviceLeftAloneIsNamedOnceWithTheReason) {
  sim::Simulation simulation(
      ParseSetupOrFail("model=Brevanto_RX1,Brevanto_RX2,update-e6a4,Brevanto_RX1,Brevanto_RX1;"
                       "schedule=100-,100-,100-,100-"));
  TempDir dir;
  const std::string file = dir.Write("Brevanto_RX1.bin", TestImage<std::string>(6000)).string();
  const ToolRun run = RunInProcess(
      {"update", "--watch", "--yes", "--count", "1", file}, {},
      [&] { return std::make_unique<RequestHook>(simulation, std::function<void()>()); }, nullptr);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  for (const std::string& named :
       {std::string("Brevanto RX2 plugged in, not updated: another model (the file is for the "
                    "Brevanto RX1)"),
        std::string("Firmware update device E6A4 plugged in, not updated: in firmware-update "
                    "mode (--device names such a device to update it)"),
        std::string("Brevanto RX1 plugged in, not updated: the station has its 1 devices"),
        std::string("Brevanto RX1, already plugged in when the station started")})
    EXPECT_EQ(Occurrences(run.out, named), 1u) << named << " in:\n" << run.out;
}

// A --device that names another model could never be met: refused before anything is sent.
TEST_F(Station, ADeviceOfAnotherModelIsRefusedAtTheStart) {
  const ToolRun run =
      Tool({"update", "--watch", "--yes", "--device", "Brevanto RX2", "--count", "1", file_});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_CONTAINS(run.err, "--device 'Brevanto RX2' names the Brevanto RX2, not the Brevanto RX1");
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(device(i).RequestCount(), 0u);
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

}  // namespace
}  // namespace qv::test
