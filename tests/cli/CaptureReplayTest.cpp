// A capture replayed as a device, beyond the corpus's runs: answers that the tool really reads,
// requests that must be the captured ones, a capture cut short, files that are not captures, the
// tool's own files, and several devices told apart.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/ToolRunner.h"
#include "util/Text.h"

namespace qv::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
}

// `text` with the first `from` in it made `to`.
std::string Edited(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string Hex(std::string_view bytes) {
  return FormatHexBytes({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, "");
}

// The place in `lines` of the first request whose `field` is `value`.
std::size_t FirstRequestWith(const std::vector<std::string>& lines, const char* field,
                             const nlohmann::json& value) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (const auto line = nlohmann::json::parse(lines[i]);
        line.contains(field) && line[field] == value)
      return i;
  ADD_FAILURE() << "no request with " << field << " " << value.dump().substr(0, 40);
  return lines.size();
}

class CaptureReplay : public QvTool {
 protected:
  static constexpr const char* kReplay = "--simulate=replay=c.jsonl";
  CaptureReplay() { Write("fw.bin", image); }
  // An update of fw.bin on a device fresh from the field, captured as c.jsonl.
  void CaptureUpdate() {
    const ToolRun run = Tool({"--simulate", "--capture", "c.jsonl", "-y", "update", "fw.bin"});
    EXPECT_EQ(run.status, 0) << run.err;
  }
  const std::string image = TestImage<std::string>(0x2000, 7);
};

TEST_F(CaptureReplay, AChangedAnswerByteFailsVerifyAtItsAddress) {
  ASSERT_EQ(Tool({Sim(), "-y", "update", "fw.bin"}).status, 0);
  ASSERT_EQ(Tool({Sim(), "--capture", "c.jsonl", "verify", "fw.bin"}).status, 0);

  // The answer that brought the image's block at 0x1000 gets another byte at 0x1015.
  std::vector<std::string> lines = Lines(Read("c.jsonl"));
  const std::size_t at = FirstRequestWith(lines, "answer", Hex(image.substr(0x1000, 64)));
  ASSERT_LT(at, lines.size());
  nlohmann::ordered_json answer = nlohmann::ordered_json::parse(lines[at]);
  std::string bytes = image.substr(0x1000, 64);
  bytes[0x15] = static_cast<char>(~bytes[0x15]);
  answer["answer"] = Hex(bytes);
  lines[at] = answer.dump();
  Write("c.jsonl", Joined(lines));

  const ToolRun run = Tool({kReplay, "verify", "fw.bin"});
  EXPECT_CONTAINS(run.out, "Verifying Fail at 0x001015\n");
  EXPECT_EQ(run.out.find("Verifying Success"), std::string::npos);
  // The tool reads the block again, which the capture never saw: the replay ends there.
  EXPECT_EQ(run.status, 5);
  EXPECT_CONTAINS(run.err, "the tool sent OUT 81 v=0040 i=0001 len=4 [03 00 10 00]");
}

TEST_F(CaptureReplay, AnotherFirmwareStopsAtTheFirstPageProgramThatDiffers) {
  CaptureUpdate();
  std::string other = image;
  other[0x1234] = static_cast<char>(~other[0x1234]);
  Write("fw.bin", other);

  const std::vector<std::string> lines = Lines(Read("c.jsonl"));
  const std::size_t page = FirstRequestWith(lines, "out", Hex(image.substr(0x1200, 256)));
  ASSERT_LT(page, lines.size());
  const std::string number = nlohmann::json::parse(lines[page]).at("n").dump();

  const ToolRun run = Tool({kReplay, "-y", "update", "fw.bin"});
  EXPECT_EQ(run.status, 5);
  EXPECT_CONTAINS(run.err, "qvtool: replay: request " + number +
                               " of the capture (device 1) is not what the tool sent: the "
                               "capture holds OUT 80 ");
  EXPECT_CONTAINS(run.err, "; the data first differ at byte 52 (capture ");
  EXPECT_CONTAINS(run.out, "Start Programming\nFirmware update Fail!\n");
}

TEST_F(CaptureReplay, ACaptureCutShortIsADeviceThatLeft) {
  CaptureUpdate();
  // Cut after the 900th request, in the middle of programming, with the next line unfinished as
  // a run stopped there leaves it; the live twin is the device unplugged after that answer.
  const std::vector<std::string> lines = Lines(Read("c.jsonl"));
  const std::size_t last = FirstRequestWith(lines, "n", 900);
  ASSERT_LT(last + 1, lines.size());
  std::vector<std::string> kept(lines.begin(), lines.begin() + std::ptrdiff_t(last) + 1);
  Write("c.jsonl", Joined(kept) + lines[last + 1].substr(0, 40));

  const ToolRun replay = Tool({kReplay, "-y", "update", "fw.bin"});
  const ToolRun live = Tool({"--simulate=fail-after=900", "-y", "update", "fw.bin"});
  EXPECT_EQ(replay.status, 1);
  EXPECT_CONTAINS(replay.err, "the device is gone");
  EXPECT_EQ(replay.status, live.status);
  EXPECT_EQ(replay.out, live.out);
  EXPECT_EQ(replay.err, live.err);
}

TEST_F(CaptureReplay, WhatIsNoCaptureOfThisVersionIsRefusedBeforeAnythingIsSent) {
  ASSERT_EQ(Tool({"--simulate", "--capture", "status.jsonl", "status"}).status, 0);
  const std::string status = Read("status.jsonl");
  struct Case {
    std::string text, reason;
  };
  const Case cases[] = {
      {"", "is empty"},
      {TestImage<std::string>(300), "is not a capture: its first line is not JSON"},
      {"\n" + status, "is not a capture: its first line is not JSON"},
      {"{\"event\":\"close\",\"device\":1}\n", "is not a capture: its first line does not name"},
      {"{\"format\":\"qv-capture\",\"version\":2}\n" + status.substr(status.find('\n') + 1),
       "is of version 2; this tool reads version 1"},
      {Edited(status, "\"returned\":1,", "\"returned\":2,"),
       "has a bad line 8: more bytes than the request's size"},
      {Edited(status, "\"us\":125", "\"us\":-125"), "has a bad line 5: a negative time"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    Write("c.jsonl", c.text);
    const ToolRun run = Tool({kReplay, "-v", "--capture", "out.jsonl", "status"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("qvtool: simulator setup: the capture 'c.jsonl' " + c.reason, 0), 0u)
        << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u);  // not a request traced
    EXPECT_FALSE(std::filesystem::exists(DirPath() + "/out.jsonl"));
  }
}

TEST_F(CaptureReplay, TheCaptureIsNeitherTheFirmwareNorTheReplayedFile) {
  CaptureUpdate();
  const std::string capture = Read("c.jsonl");
  const ToolRun onFirmware = Tool({"--simulate", "--capture", "fw.bin", "-y", "update", "fw.bin"});
  EXPECT_EQ(onFirmware.status, 2);
  EXPECT_CONTAINS(onFirmware.err, "'fw.bin' is given as FILE and as --capture");
  const ToolRun onReplayed = Tool({kReplay, "--capture", "./c.jsonl", "-y", "update", "fw.bin"});
  EXPECT_EQ(onReplayed.status, 2);
  EXPECT_CONTAINS(onReplayed.err, "is given as --capture and as --simulate=replay");
  EXPECT_TRUE(Read("fw.bin") == image);
  EXPECT_TRUE(Read("c.jsonl") == capture);
}

// Each device's lines in order, by the name before their ": " (the summary's under "").
std::map<std::string, std::vector<std::string>> ByDevice(const std::string& out) {
  std::map<std::string, std::vector<std::string>> lines;
  for (const std::string& line : Lines(out)) {
    const std::size_t colon = line.find(": ");
    lines[colon == std::string::npos ? "" : line.substr(0, colon)].push_back(line);
  }
  return lines;
}

TEST_F(CaptureReplay, DevicesWorkedSideBySideAreToldApartAndReplayedEachInItsOwnTime) {
  Write("Brevanto_RX1.bin", image);
  struct Case {
    std::string setup;
    std::vector<std::string> args;
    std::size_t devices;
    const char* summary;  // its time is the host's, which a replay does not hold for a station
  };
  const Case cases[] = {
      {"model=Brevanto_RX1,Brevanto_RX1,Brevanto_RX1", {"update", "--all"}, 3, ""},
      {"model=Brevanto_RX1,Brevanto_RX1;schedule=100-4000+8000-,300-",
       {"update", "--watch", "--count", "3"},
       2,
       "updated 3, failed 0, time "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-y", "Brevanto_RX1.bin"});
    std::vector<std::string> capturing = {"--simulate=" + c.setup, "--capture", "c.jsonl"};
    capturing.insert(capturing.end(), args.begin(), args.end());
    const ToolRun live = Tool(capturing);
    ASSERT_EQ(live.status, 0) << live.err;

    std::map<int, std::set<std::string>> pathsOf;
    std::set<int> requesting;
    for (const std::string& text : Lines(Read("c.jsonl"))) {
      const nlohmann::json line = nlohmann::json::parse(text);
      if (line.value("event", "") == "open")
        pathsOf[line["device"].get<int>()].insert(line["path"].get<std::string>());
      if (line.value("event", "") == "request") requesting.insert(line["device"].get<int>());
    }
    EXPECT_EQ(pathsOf.size(), c.devices);
    for (const auto& [device, paths] : pathsOf) EXPECT_EQ(paths.size(), 1u) << device;
    EXPECT_EQ(requesting.size(), c.devices);

    args.insert(args.begin(), kReplay);
    const ToolRun replay = Tool(args);
    EXPECT_EQ(replay.status, 0) << replay.err;
    auto replayed = ByDevice(replay.out), lived = ByDevice(live.out);
    if (*c.summary) {
      EXPECT_CONTAINS(replay.out, c.summary);
      replayed.erase("");
      lived.erase("");
    }
    // Each device's steps in order, and the time its update took on its own clock.
    EXPECT_EQ(replayed, lived);
    EXPECT_GE(lived.size(), c.devices + 1);
  }
}

}  // namespace
}  // namespace qv::test
