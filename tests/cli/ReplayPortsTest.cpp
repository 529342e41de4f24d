// The waits of a station over a replayed capture: the time they pass and on which devices.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "cli/DevicePorts.h"
#include "tests/support/TempFiles.h"
#include "transport/Protocol.h"
#include "util/Text.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

// Time passes while the capture has listings to come, and only on the devices no thread works
// with; once it shows nothing more, a station that outlives it waits without inventing time.
TEST(ReplayPorts, AWaitPassesOnIdleDevicesWhileTheCaptureHasMoreToShow) {
  const std::string busy = "busy", idle = "idle";
  const std::string listing = R"({"event":"discover","class":")" +
                              FormatHexBytes(protocol::kAudioInterfaceClass.Bytes(), "") +
                              R"(","paths":["busy","idle"]})"
                              "\n";
  const std::string capture = R"({"format":"qv-capture","version":1})"
                              "\n" +
                              listing + listing +
                              R"({"event":"open","device":1,"path":"busy","ok":true})"
                              "\n"
                              R"({"event":"open","device":2,"path":"idle","ok":true})"
                              "\n";
  const TempDir dir;
  const auto ports = cli::SimulatedPorts("replay=" + dir.Write("c.jsonl", capture).string()).ports;
  ASSERT_TRUE(ports);
  cli::SimulationView& view = *ports->Simulation();

  ASSERT_TRUE(
      ports->Interfaces().PresentPaths(protocol::kAudioInterfaceClass));  // one listing to come
  ports->WaitForChange(250ms, {busy});
  EXPECT_EQ(view.ClockFor(busy).Now(), 0us);  // its own thread moves it
  EXPECT_EQ(view.ClockFor(idle).Now(), 250ms);
  EXPECT_EQ(view.HostClock().Now(), 250ms);

  ASSERT_TRUE(ports->Interfaces().PresentPaths(protocol::kAudioInterfaceClass));  // the last one
  ports->WaitForChange(1ms, {});
  EXPECT_EQ(view.ClockFor(idle).Now(), 250ms);
  EXPECT_EQ(view.HostClock().Now(), 250ms);
}

}  // namespace
}  // namespace qv::test
