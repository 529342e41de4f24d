// `update --watch` in the test's process over a simulation whose devices are plugged in and taken
// out on a schedule, each on its own virtual clock. These tests also run under ThreadSanitizer.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/Interrupts.h"
#include "sim/SimSetup.h"
#include "tests/support/InProcessRun.h"
#include "tests/support/RequestHook.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TerminalScreen.h"
#include "tests/support/TestFirmware.h"
#include "util/OwnedFile.h"
#include "util/Sha256.h"

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

  ToolRun Tool(std::vector<std::string> args, const InProcessStreams& surroundings = {},
               const std::atomic<int>* interrupts = nullptr) {
    return RunInProcess(
        std::move(args), surroundings,
        [this] { return std::make_unique<RequestHook>(sim_, afterRequest); },
        interrupts ? interrupts : &interrupts_);
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
    // To the millisecond, not a binary fraction's 16 digits.
    const std::string seconds = line["seconds"].dump();
    EXPECT_LE(seconds.size() - seconds.find('.'), 4u) << seconds;
    // The unit, the file and the tool beyond doubt: each simulated device has its own serial
    // number, the file is named in full with its SHA-256.
    EXPECT_EQ(line["serial"], line["port"] == kPort0 ? "QVSIM000001" : "QVSIM000002");
    EXPECT_EQ(line["filePath"], file_);
    EXPECT_EQ(line["sha256"],
              Sha256Hex({reinterpret_cast<const std::uint8_t*>(image_.data()), image_.size()}));
    EXPECT_EQ(line["toolVersion"], QV_TOOL_VERSION);
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

TEST_F(Station, JsonSumsUpInItsFieldsAndItsErrorSaysWhatWentWrong) {
  // The totals are the document's fields; its error says what went wrong, in the singular for one.
  const ToolRun failed = Tool({"--json", "update", "--watch", "--yes", "--count", "3", file_});
  const nlohmann::json sum = nlohmann::json::parse(Lines(failed.out).back());
  EXPECT_EQ(sum["failed"], 1);
  EXPECT_EQ(sum["error"], "1 device failed");
}

// One device on the bench, so that nothing else can end while the key is pressed.
class OnePort : public Station {
 protected:
  OnePort() : Station("model=Brevanto_RX1;schedule=100-") {}
};

#ifndef _WIN32
TEST_F(OnePort, AClosedTerminalStopsTheStationSafelyAndItsSummaryIsSaidOnce) {
  // The handlers the program installs, SIGHUP raised during the first unit's erase.
  std::atomic<int>& count = cli::InstallInterruptHandlers();
  bool raised = false;
  afterRequest = [&] {
    const auto& last = device(0).Log().Entries().back();
    if (!raised && last.request == 0x80 && last.data == std::vector<std::uint8_t>{0xC7}) {
      raised = true;
      std::raise(SIGHUP);
    }
  };
  const ToolRun run = Tool({"update", "--watch", "--yes", file_}, {}, &count);
  count = 0;
  EXPECT_TRUE(raised);
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_FALSE(device(0).Chip().Isp().InIspMode());
  EXPECT_EQ(device(0).Chip().Flash().Status() & 0xFC, 0xFC);
  const std::string both = run.out + run.err;
  const std::size_t first = both.find("updated 0, failed 0, stopped 1");
  ASSERT_NE(first, std::string::npos) << both;
  EXPECT_EQ(both.find("updated 0, failed 0, stopped 1", first + 1), std::string::npos) << both;
}
#endif

TEST_F(OnePort, ARowShowsItsResultOnlyOnceTheRecordHoldsItsLine) {
  // A kill at any moment must not lose a result the technician saw.
  bool shown = false, recordedFirst = false;  // on the unit's thread, which shows the row
  InProcessStreams watched;
  watched.watchOut = [&](std::string_view text) {
    if (shown || text.find("Firmware update success!") == std::string_view::npos) return;
    shown = true;
    recordedFirst = Lines(Record()).size() == 1;
  };
  const ToolRun run =
      Tool({"update", "--watch", "--yes", "--count", "1", "--record", record_, file_}, watched);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(shown) << run.out;
  EXPECT_TRUE(recordedFirst);
}

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
  const ToolRun run = Tool({"update", "--watch", "--record", record_, file_});
  EXPECT_EQ(run.status, 1);
  EXPECT_CONTAINS(run.out, "Update every Brevanto RX1 plugged in from now on? [y/N]");
  EXPECT_EQ(device(0).RequestCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists(record_));  // opened only once the answer is yes
}

TEST_F(Station, CtrlCAtTheQuestionCancelsItWhateverIsTypedAfter) {
  // The RX1 present from the start (instance &0&5) is the one update and update --all take.
  const std::vector<std::vector<std::string>> commands = {
      {"--device", "&0&5", "update", file_},
      {"update", "--all", file_},
      {"update", "--watch", "--record", record_, file_}};
  for (const auto& command : commands) {
    SCOPED_TRACE(command[command.size() - 2]);
    interrupts_ = 1;
    InProcessStreams terminal;
    terminal.input = "y\n";
    terminal.inIsTerminal = true;
    const ToolRun run = Tool(command, terminal);
    interrupts_ = 0;
    EXPECT_EQ(run.status, 130) << run.out << run.err;
    EXPECT_CONTAINS(run.err, "stopped at the question: nothing was sent");
    EXPECT_FALSE(FlashHolds(device(3), image_));
    for (const auto& request : device(3).Log().Entries())
      EXPECT_NE(request.request, 0x80) << "a flash command was sent";
  }
  EXPECT_FALSE(std::filesystem::exists(record_));
}

TEST_F(Station, TheRecordIsStandardOutputWithADashAndNeverAnEmptyName) {
  const ToolRun empty = Tool({"update", "--watch", "--yes", "--record", "", file_});
  EXPECT_EQ(empty.status, 2);
  EXPECT_CONTAINS(empty.err, "an empty name names no file");

  // Standard output carries the record's lines and nothing else: the rest goes to standard error.
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(dir_.Path());
  const ToolRun run = Tool({"update", "--watch", "--yes", "--count", "1", "--record", "-", file_});
  std::filesystem::current_path(here);
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 1u) << run.out;
  EXPECT_EQ(nlohmann::json::parse(lines[0])["port"], kPort0);
  EXPECT_CONTAINS(run.err, "Waiting for Brevanto RX1 devices: Brevanto_RX1.bin, checksum 0x");
  EXPECT_CONTAINS(run.err, "updated 1, failed 0");
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "-"));
}

// Units that come one after another: at 0.1 s, 30 s and 60 s.
class InTurn : public Station {
 protected:
  InTurn() : Station("model=Brevanto_RX1,Brevanto_RX1,Brevanto_RX1;schedule=100-,30000-,60000-") {}
  bool Erasing(std::size_t i) {
    const auto& last = device(i).Log().Entries().back();
    return last.request == 0x80 && last.data == std::vector<std::uint8_t>{0xC7};
  }
};

TEST_F(InTurn, AStandardOutputNobodyReadsStartsNoMoreUnits) {
  // The reader of the pipe goes away during the first unit's erase.
  std::atomic<bool> closed{false};
  afterRequest = [&] {
    if (!closed && Erasing(0)) closed = true;
  };
  InProcessStreams pipe;
  pipe.outClosed = &closed;
  const ToolRun run = Tool({"update", "--watch", "--yes", "--count", "3", file_}, pipe);
  EXPECT_TRUE(closed);
  EXPECT_EQ(run.status, 2);
  EXPECT_CONTAINS(run.err, "standard output could not be written");
  EXPECT_TRUE(FlashHolds(device(0), image_));  // the unit under way finished
  EXPECT_EQ(device(1).RequestCount(), 0u);
}

#ifndef _WIN32
// Lets files grow to `bytes` only, while it lasts: a write past that takes what fits and the next
// fails with EFBIG, as on a disk that fills up.
class FileSizeLimit {
 public:
  FileSizeLimit() {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    ::sigaction(SIGXFSZ, nullptr, &signal_);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, nullptr);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    ::sigaction(SIGXFSZ, &signal_, nullptr);
  }
  void Set(std::uintmax_t bytes) {
    rlimit limit = before_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }

 private:
  rlimit before_{};
  struct sigaction signal_ {};
};

TEST_F(InTurn, ARecordThatStopsTakingLinesStartsNoMoreUnitsAndHoldsOnlyWholeLines) {
  // The disk fills up while the second unit is under way: room for part of its line only.
  FileSizeLimit limit;
  bool limited = false;  // touched on the units' threads, which run one after another
  afterRequest = [&] {
    if (limited || Record().empty()) return;
    limited = true;
    limit.Set(Record().size() + 100);
  };
  const ToolRun run = Tool({"update", "--watch", "--yes", "--record", record_, file_});
  EXPECT_TRUE(limited);
  // Units were flashed: not the 2 that says nothing was sent.
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_CONTAINS(run.err, "qvtool: --record: cannot write '" + record_ + "': File too large");
  EXPECT_CONTAINS(run.err, "1 device finished without a line in it");
  EXPECT_TRUE(FlashHolds(device(1), image_));  // the unit under way finished
  EXPECT_EQ(device(2).RequestCount(), 0u);     // and no other started
  const std::string record = Record();
  ASSERT_EQ(Lines(record).size(), 1u) << record;
  EXPECT_EQ(record.back(), '\n');
  EXPECT_EQ(nlohmann::json::parse(Lines(record)[0])["serial"], "QVSIM000001");
}

TEST_F(InTurn, AFifoRecordReadByAnotherThreadGetsEveryLine) {
  const std::string fifo = (dir_.Path() / "record.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The reader is there before the station opens it, as a script's would be.
  const OwnedFile reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_TRUE(reader.Valid());
  ASSERT_EQ(::fcntl(reader.Get(), F_SETFL, 0), 0);
  std::string got;
  std::atomic<bool> ended{false};
  std::thread reading([&] {
    char bytes[4096];
    // Until the station closes its end; a read before it opened it finds nothing yet.
    for (bool opened = false;;) {
      const ssize_t n = ::read(reader.Get(), bytes, sizeof bytes);
      if (n > 0) {
        got.append(bytes, static_cast<std::size_t>(n));
        opened = true;
      } else if (opened || ended) {
        break;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  });
  const ToolRun run = Tool({"update", "--watch", "--yes", "--count", "3", "--record", fifo, file_});
  ended = true;
  reading.join();
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(got);
  ASSERT_EQ(lines.size(), 3u) << got;
  for (const std::string& line : lines) EXPECT_EQ(nlohmann::json::parse(line)["result"], "success");
}
#endif

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
        std::string("Brevanto RX1 plugged in, not updated: the station has its 1 device (--count)"),
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
