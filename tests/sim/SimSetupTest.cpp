#include "sim/SimSetup.h"

#include <gtest/gtest.h>

#include <iterator>

#include "tests/support/TempFiles.h"

namespace qv::sim {
namespace {

TEST(SimSetupText, DefaultsToOneAudioDeviceOfTheFirstProduct) {
  for (const char* text : {"", ";", "model=Brevanto_RX1"}) {
    const auto result = ParseSimSetup(text);
    ASSERT_TRUE(result.setup) << result.error;
    ASSERT_EQ(result.setup->devices.size(), 1u);
    EXPECT_EQ(result.setup->devices[0].productId, 0x7A01);
    EXPECT_EQ(result.setup->devices[0].presentation, Identity::Presentation::kAudio);
  }
}

TEST(SimSetupText, ReadsEveryKey) {
  const auto result = ParseSimSetup(
      "model=Brevanto_RX3s,update-e6a4;fail-after=40;fail-request=3;short-request=5;"
      "latency-us=125;real-time=1");
  ASSERT_TRUE(result.setup) << result.error;
  const SimSetup& s = *result.setup;
  ASSERT_EQ(s.devices.size(), 2u);
  EXPECT_EQ(s.devices[0].productId, 0x7A10);
  EXPECT_EQ(s.devices[1].vendorId, 0xE6A4);
  EXPECT_EQ(s.devices[1].presentation, Identity::Presentation::kUpdate);
  EXPECT_EQ(s.failAfter, 40u);
  EXPECT_EQ(s.failRequest, 3u);
  EXPECT_EQ(s.shortRequest, 5u);
  EXPECT_EQ(s.latency, std::chrono::microseconds(125));
  EXPECT_TRUE(s.realTime);
  EXPECT_TRUE(ParseSimSetup("model=none").setup->devices.empty());
}

TEST(SimSetupText, RefusesWhatItDoesNotKnow) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"modle=Brevanto_RX1", "unknown setup key 'modle'"},
      {"model=Brevanto_RX9", "unknown model 'Brevanto_RX9'"},
      {"model=brevanto_rx1", "unknown model 'brevanto_rx1'"},
      {"model", "setup item 'model' is not key=value"},
      {"fail-after=0", "fail-after needs a whole number of 1 or more"},
      {"fail-after=-1", "fail-after needs a whole number of 1 or more"},
      {"fail-request=x", "fail-request needs a whole number of 1 or more"},
      {"short-request=0", "short-request needs a whole number of 1 or more"},
      {"latency-us=20000000", "latency-us needs microseconds from 0 to 10000000"},
      // Intervals in order, each with its end before the next begins; an open one ends the list.
      {"schedule=500-400", "schedule needs, for each device, intervals"},
      {"schedule=100-900+800-", "schedule needs, for each device, intervals"},
      {"schedule=100-+200-", "schedule needs, for each device, intervals"},
      {"schedule=x", "schedule needs, for each device, intervals"},
      {"schedule=100-,200-", "schedule gives 2 schedules for 1 devices"},
  };
  for (const auto& c : cases) {
    const auto result = ParseSimSetup(c.text);
    EXPECT_FALSE(result.setup) << c.text;
    EXPECT_NE(result.error.find(c.error), std::string::npos) << c.text << ": " << result.error;
  }
}

TEST(FlashFiles, OnePathPerDeviceEachSavedOnItsOwn) {
  test::TempDir dir;
  const auto a = dir.Path() / "a.bin";
  const auto b = dir.Write("b.bin", "\x01\x02\x03");
  const auto setup =
      ParseSimSetup("model=Brevanto_RX1,Brevanto_RX1;flash-file=" + a.string() + "," + b.string());
  ASSERT_TRUE(setup.setup) << setup.error;
  {
    Simulation sim(*setup.setup);
    EXPECT_EQ(sim.FileError(), "");
    EXPECT_EQ(sim.Bus().Device(0).Chip().Flash().Contents()[0], 0x31);  // the older firmware
    EXPECT_EQ(sim.Bus().Device(1).Chip().Flash().Contents()[0], 0x01);  // what b.bin held
  }
  // A file that did not exist is created with the device's flash.
  EXPECT_EQ(test::ReadFile(a).size(), 0x80000u);
  EXPECT_EQ(test::ReadFile(a)[0], '\x31');
  EXPECT_EQ(test::ReadFile(b).size(), 3u);
  // Nothing but the two files: every save went through a temporary file that was renamed.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);

  // A single path backs the first device only.
  const auto single = ParseSimSetup("model=Brevanto_RX1,Brevanto_RX2;flash-file=" + a.string());
  ASSERT_TRUE(single.setup);
  EXPECT_EQ(single.setup->flashFiles.size(), 1u);
}

TEST(FlashFiles, AFileThatCannotBeWrittenIsAnErrorBeforeAnythingRuns) {
  test::TempDir dir;
  struct Case {
    std::string text;
    const char* error;
  };
  const Case cases[] = {
      {"flash-file=" + (dir.Path() / "missing" / "flash.bin").string(), "' does not exist"},
      {"flash-file=" + (dir.Path() / "a.bin").string() + ",", "a path for each device"},
      {"model=Brevanto_RX1;flash-file=" + (dir.Path() / "a.bin").string() + "," +
           (dir.Path() / "b.bin").string(),
       "flash-file names 2 files for 1 devices"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto result = ParseSimSetup(c.text);
    EXPECT_FALSE(result.setup);
    EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
  }
  // A save that fails is reported and leaves no temporary file behind.
  const auto folder = dir.Path() / "flash.bin";
  std::filesystem::create_directory(folder);  // a folder where the file should be
  const auto setup = ParseSimSetup("flash-file=" + folder.string());
  ASSERT_TRUE(setup.setup);
  Simulation sim(*setup.setup);
  EXPECT_NE(sim.FileError().find("cannot"), std::string::npos) << sim.FileError();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(SimulatedBus, PathsHoldLowerCaseIdsUnderTheRightInterfaceClass) {
  const auto setup = ParseSimSetup("model=Brevanto_RX2P,update-e7b2");
  Simulation sim(*setup.setup);
  EXPECT_EQ(sim.Bus().Device(0).InterfacePath(),
            "\\\\?\\usb#vid_e5d3&pid_7a0a&mi_00#5&2c3d4e5f&0&2#"
            "{7e2c4d91-5a3b-4c6e-8f17-0b9d2a6e5c34}\\global");
  EXPECT_EQ(sim.Bus().Device(1).InterfacePath(),
            "\\\\?\\usb#vid_e7b2&pid_6000#5&2c3d4e5f&0&3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
  EXPECT_EQ(sim.Bus().PresentPaths(drivers::kAudioClass)->size(), 1u);
  EXPECT_EQ(sim.Bus().PresentPaths(drivers::kUsbDeviceClass)->size(), 1u);
}

TEST(SimulatedBus, LatencyAdvancesTheVirtualClockPerRequest) {
  const auto setup = ParseSimSetup("latency-us=250");
  Simulation sim(*setup.setup);
  SimDevice& device = sim.Bus().Device(0);
  const NativeHandle handle = sim.Bus().Open(device.InterfacePath().c_str());
  ASSERT_NE(handle, kInvalidHandle);
  for (int i = 0; i < 4; ++i) sim.Bus().Control(handle, drivers::kVendorReadCode, {}, {});
  EXPECT_EQ(sim.Clock().Now(), std::chrono::microseconds(1000));
  EXPECT_EQ(sim.Clock().Slept(), std::chrono::microseconds(0));
  sim.Bus().Close(handle);
}

// Devices driven side by side each keep their own time; a host that works with one device at a
// time sees the bus's time, the furthest any device has come, and its pauses pass on every device.
TEST(SimulatedBus, ASchedulePlugsDevicesInAndOutOnTheirOwnClocks) {
  const auto setup = ParseSimSetup("model=Brevanto_RX1,Brevanto_RX1;schedule=100-300+600-,");
  ASSERT_TRUE(setup.setup) << setup.error;
  Simulation simulation(*setup.setup);
  SimBus& bus = simulation.Bus();
  const auto present = [&] { return bus.PresentPaths(bus.Device(0).InterfaceClass())->size(); };
  EXPECT_EQ(present(), 1u);  // the second, without a schedule, is there throughout
  using std::chrono::milliseconds;
  EXPECT_TRUE(bus.AdvanceIdle(milliseconds(100), {}));  // the first comes
  EXPECT_EQ(present(), 2u);
  const NativeHandle handle = bus.Open(bus.Device(0).InterfacePath().c_str());
  // In use, its clock moves only with its own work: the host's waits do not take it out.
  EXPECT_FALSE(bus.AdvanceIdle(milliseconds(500), {bus.Device(0).InterfacePath()}));
  EXPECT_EQ(present(), 2u);
  bus.Device(0).Clock().Advance(milliseconds(200));
  std::vector<std::uint8_t> record(24), answer(18);
  const IoResult gone = bus.Control(handle, 0x22242E, record, answer);
  EXPECT_FALSE(gone.ok);
  EXPECT_TRUE(gone.gone);
  EXPECT_EQ(present(), 1u);
  EXPECT_TRUE(bus.AdvanceIdle(milliseconds(300), {}));  // back at 600 ms
  EXPECT_EQ(present(), 2u);
  bus.Close(handle);
}

TEST(SimulatedBus, EachDeviceKeepsItsOwnTime) {
  const auto setup = ParseSimSetup("model=Brevanto_RX1,Brevanto_RX1;latency-us=250");
  Simulation sim(*setup.setup);
  SimDevice& first = sim.Bus().Device(0);
  SimDevice& second = sim.Bus().Device(1);
  const NativeHandle handle = sim.Bus().Open(second.InterfacePath().c_str());
  for (int i = 0; i < 4; ++i) sim.Bus().Control(handle, drivers::kVendorReadCode, {}, {});
  sim.Bus().Close(handle);
  EXPECT_EQ(first.Clock().Now(), std::chrono::microseconds(0));
  EXPECT_EQ(second.Clock().Now(), std::chrono::microseconds(1000));
  EXPECT_EQ(sim.Clock().Now(), std::chrono::microseconds(1000));
  EXPECT_EQ(first.Log().Size(), 0u);
  EXPECT_EQ(second.Log().Size(), 4u);

  sim.Clock().Sleep(2);
  EXPECT_EQ(first.Clock().Now(), std::chrono::microseconds(2000));
  EXPECT_EQ(second.Clock().Now(), std::chrono::microseconds(3000));
  EXPECT_EQ(sim.Clock().Slept(), std::chrono::microseconds(2000));
  // A device plugged in later starts at the bus's time.
  EXPECT_EQ(sim.Bus().Plug(first.GetIdentity()).Clock().Now(), std::chrono::microseconds(3000));
}

}  // namespace
}  // namespace qv::sim
