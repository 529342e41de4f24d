// The built qvtool, without --simulate, against devices umockdev emulates: its real ports go
// through libusb to the simulated chip.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "tests/libusb/EmulatedUsb.h"
#include "tests/support/ToolRunner.h"

namespace qv::test {
namespace {

class QvToolOverLibusb : public QvTool {
 protected:
  EmulatedUsb& Plug(const std::string& setup, std::vector<LinkFaults> faults = {}) {
    usb_.reset();  // one test bed at a time: the process points umockdev at the newest
    usb_ = std::make_unique<EmulatedUsb>(setup, std::move(faults));
    return *usb_;
  }
  std::string FlashOf(std::size_t device) {
    const auto contents = usb_->Simulation().Bus().Device(device).Chip().Flash().Contents();
    return std::string(contents.begin(), contents.end());
  }
  std::unique_ptr<EmulatedUsb> usb_;
};

constexpr const char* kRx1 =
    "Brevanto RX1  vid_e5d3&pid_7a01  audio driver  usb#vid_e5d3&pid_7a01#1-1";

TEST_F(QvToolOverLibusb, ListsReadsAndUpdatesARealDevice) {
  Plug("model=Brevanto_RX1;string1=Acme");
  ToolRun run = Tool({"list"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, std::string(kRx1) + "\n");
  run = Tool({"chip-id"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "0xEF,  0x40,  0x13,  \nflash: EF 40 13 (4 Mbit");
  run = Tool({"version"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Current Firmware:V1.0\n");
  // The strings asked of the device in its language, the ids from its device descriptor.
  run = Tool({"param", "show"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "vendor id: e5d3\nproduct id: 7a01\nmanufacturer: Acme\nproduct: Quorvex-inc UAC2 "
            "22\nserial number: QVSIM000001\n");

  const std::string image = Firmware(0x1801);
  Write("Brevanto_RX1.bin", image);
  run = Tool({"update", "--yes", "Brevanto_RX1.bin"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_CONTAINS(run.out, "Firmware update success!");
  EXPECT_EQ(FlashOf(0), Flashed(image));
}

TEST_F(QvToolOverLibusb, TwoDevicesOfOneModelAreChosenByTheirPort) {
  Plug("model=Brevanto_RX1,Brevanto_RX1");
  ToolRun run = Tool({"chip-id"});
  EXPECT_EQ(run.status, 2);
  EXPECT_CONTAINS(run.err, "#1-1\n    --device '1-1'\n");
  EXPECT_CONTAINS(run.err, "#1-2\n    --device '1-2'\n");
  run = Tool({"--device", "1-2", "chip-id"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(usb_->Transfers(0).empty());
  EXPECT_FALSE(usb_->Transfers(1).empty());
}

// Mid-programming (the erase and its polls take the first 500 or so transfers), a device that
// leaves the bus fails the update at once; a transfer that stalls is not taken for an answer:
// the update goes round again and the flash ends right.
TEST_F(QvToolOverLibusb, AnUpdateFailsWhenItsDeviceLeavesAndRepeatsWhatStalled) {
  const std::string image = Firmware(0x1801);
  Write("Brevanto_RX1.bin", image);
  Plug("model=Brevanto_RX1;fail-after=700");
  ToolRun run = Tool({"update", "--yes", "Brevanto_RX1.bin"});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_CONTAINS(run.out, "Firmware update Fail!");
  EXPECT_CONTAINS(run.err, "the device is gone");
  EXPECT_EQ(usb_->Transfers(0).size(), 700u);  // nothing reached the device after it left

  Plug("model=Brevanto_RX1", {LinkFaults{.stallFrom = {}, .hangAt = {}, .shortAt = {}}});
  usb_->Simulation().Bus().Device(0).FailRequestNumber(700);
  run = Tool({"update", "--yes", "Brevanto_RX1.bin"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_CONTAINS(run.out, "Firmware update success!");
  EXPECT_EQ(FlashOf(0), Flashed(image));
  const auto seen = usb_->Transfers(0);
  ASSERT_GT(seen.size(), 700u);
  EXPECT_EQ(seen[699].status, -EPIPE);
}

TEST_F(QvToolOverLibusb, ADeviceWithoutAccessIsNamedWithTheRulesThatGiveIt) {
  Plug("model=Brevanto_RX1").DenyAccess(0);
  LaunchThrough(EmulatedUsb::ToolUserPrefix());
  ToolRun run = Tool({"list"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, std::string(kRx1) + "  (no permission to open /dev/bus/usb/001/002");
  run = Tool({"chip-id"});
  EXPECT_EQ(run.status, 3);
  EXPECT_CONTAINS(run.err, "no permission to open /dev/bus/usb/001/002 (vid_e5d3&pid_7a01)");
  EXPECT_CONTAINS(run.err, "sudo scripts/install-udev-rules");
  EXPECT_TRUE(usb_->Transfers(0).empty());
}

// A bench: the station notices a device plugged in while it runs, updates it once, and sees it
// leave. The tool runs beside the test, which plugs and unplugs as a person would.
TEST_F(QvToolOverLibusb, AStationUpdatesADevicePluggedInWhileItRunsAndSeesItLeave) {
  EmulatedUsb& usb = Plug("model=Brevanto_RX1");
  usb.Unplug(0);
  const std::string image = Firmware(0x1801);
  Write("Brevanto_RX1.bin", image);
  const std::string command = "cd " + Quote(DirPath()) + " && exec " + Quote(QVTOOL_PATH) +
                              " update --watch --yes --record record.jsonl Brevanto_RX1.bin"
                              " >station.txt 2>&1";
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t tool = 0;
  ASSERT_EQ(posix_spawn(&tool, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  // Each step is given 20 s: the device's update takes about one.
  const auto until = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i) usleep(50'000);
    return done();
  };
  EXPECT_TRUE(until([&] { return Read("station.txt").find("Waiting for") != std::string::npos; }));
  usb.Replug(0);
  EXPECT_TRUE(until([&] { return !Read("record.jsonl").empty(); })) << Read("station.txt");
  usb.Unplug(0);
  EXPECT_TRUE(until([&] { return Read("station.txt").find("1-1: left") != std::string::npos; }))
      << Read("station.txt");
  kill(tool, SIGINT);
  int status = 0;
  waitpid(tool, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 130) << Read("station.txt");
  const std::string out = Read("station.txt");
  EXPECT_CONTAINS(out, "port 1-1: Brevanto RX1 plugged in");
  EXPECT_CONTAINS(out, "finished: Firmware update success!");
  EXPECT_CONTAINS(out, "updated 1, failed 0");
  EXPECT_CONTAINS(Read("record.jsonl"), "\"port\":\"1-1\"");
  // The unit by its serial string, asked of it, and its address on the bus.
  EXPECT_CONTAINS(Read("record.jsonl"), "\"serial\":\"QVSIM000001\",\"address\":\"001:0");
  EXPECT_EQ(FlashOf(0), Flashed(image));
}

TEST_F(QvToolOverLibusb, NoDeviceFound) {
  Plug("model=none");
  const ToolRun run = Tool({"list"});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, "No device found.\n");
}

}  // namespace
}  // namespace qv::test
