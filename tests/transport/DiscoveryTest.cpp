#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/SimFixture.h"

namespace qv {
namespace {

// Interface lists as another machine might report them, for paths the simulator never makes.
class ListedInterfaces : public DeviceInterfaces {
 public:
  std::optional<std::vector<std::string>> paths;
  std::optional<std::vector<std::string>> PresentPaths(const Guid&) override { return paths; }
};

class Discovery : public test::SimFixture {
 protected:
  Discovery() : SimFixture("model=Brevanto_RX1,Brevanto_RX2,Brevanto_RX1") {}
};

TEST_F(Discovery, TheLastMatchingInterfaceWinsAndIsProbed) {
  usb().SetUseAudioDriver(1);
  ASSERT_TRUE(usb().SetMatchId("vid_e5d3&pid_7a01"));
  EXPECT_TRUE(usb().FindDevice());
  EXPECT_TRUE(usb().GetDeviceFound());
  EXPECT_EQ(usb().GetDevicePath(), device(2).InterfacePath());
  // Each match is probed with the audio driver's property support query, on a handle of its own.
  ASSERT_EQ(log().Size(), 2u);
  EXPECT_EQ(log()[0].kind, drivers::DecodedRequest::Kind::kPropertySupport);
  EXPECT_EQ(log()[1].device, 2u);
  EXPECT_EQ(bus().OpenHandleCount(), 0u);
  EXPECT_FALSE(usb().IsOpen());
}

TEST_F(Discovery, VendorModeLooksAtUsbDevicesAndProbesWithTheDeviceDescriptor) {
  device(1).SetIdentity(*sim::IdentityByName("update-e6a4"));
  ASSERT_TRUE(usb().SetMatchId("vid_e6a4&pid_6000"));
  EXPECT_TRUE(usb().FindDevice());
  EXPECT_EQ(usb().GetDevicePath(), device(1).InterfacePath());
  ASSERT_EQ(log().Size(), 1u);
  EXPECT_EQ(log()[0].kind, drivers::DecodedRequest::Kind::kGetDescriptor);
  EXPECT_EQ(log()[0].code, 0x22242Eu);
  EXPECT_EQ(log()[0].length, 18u);
  // The device descriptor (type 1, index 0) with wIndex 1; the device stalls any other type.
  EXPECT_EQ(log()[0].value, 0x0100);
  EXPECT_EQ(log()[0].index, 0x0001);
  EXPECT_TRUE(log()[0].ok);
  // An audio device is not seen through the USB device class.
  ASSERT_TRUE(usb().SetMatchId("vid_e5d3&pid_7a01"));
  EXPECT_FALSE(usb().IsDevicePresent());
}

TEST_F(Discovery, NoMatchKeepsThePathAndPresenceCheckClearsFound) {
  usb().SetUseAudioDriver(1);
  ASSERT_TRUE(usb().SetMatchId("vid_e5d3&pid_7a02"));
  ASSERT_TRUE(usb().FindDevice());
  const std::string found = usb().GetDevicePath();
  bus().Unplug(device(1));
  bus().ClearLog();
  EXPECT_FALSE(usb().FindDevice());
  EXPECT_EQ(usb().GetDevicePath(), found);
  EXPECT_TRUE(usb().GetDeviceFound());  // FindDevice never clears it
  EXPECT_FALSE(usb().IsDevicePresent());
  EXPECT_FALSE(usb().GetDeviceFound());
  EXPECT_EQ(log().Size(), 0u);  // neither call opened anything
  EXPECT_FALSE(usb().Open());
}

TEST_F(Discovery, TheResultIsTheProbeOfTheLastMatchNotOfAnyMatch) {
  usb().SetUseAudioDriver(1);
  ASSERT_TRUE(usb().SetMatchId("vid_e5d3&pid_7a01"));
  // Devices 0 and 2 match; only the later one's probe counts.
  device(2).FailRequestNumber(1);
  EXPECT_FALSE(usb().FindDevice());
  EXPECT_EQ(usb().GetDevicePath(), device(2).InterfacePath());
  device(0).FailRequestNumber(device(0).RequestCount() + 1);
  EXPECT_TRUE(usb().FindDevice());
}

TEST_F(Discovery, AFailedProbeStillMarksTheDeviceFound) {
  usb().SetUseAudioDriver(1);
  ASSERT_TRUE(usb().SetMatchId("vid_e5d3&pid_7a02"));
  device(1).FailRequestNumber(1);
  EXPECT_FALSE(usb().FindDevice());
  EXPECT_TRUE(usb().GetDeviceFound());
  EXPECT_EQ(usb().GetDevicePath(), device(1).InterfacePath());
}

TEST(DiscoveryMatching, CaseSensitiveSubstringAnywhereInThePath) {
  sim::SimBus io;
  ListedInterfaces interfaces;
  QuorvexUsb usb(io, interfaces);
  ASSERT_TRUE(usb.SetMatchId("vid_e6a4&pid_6000"));
  struct Case {
    std::vector<std::string> paths;
    bool found;
  };
  const Case cases[] = {
      {{"\\\\?\\usb#VID_E6A4&PID_6000#1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"}, false},
      {{"\\\\?\\usb#vid_e6a4&pid_6000#1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"}, true},
      {{"vid_e6a4&pid_6000"}, true},
      {{"xyz#vid_e6a4&pid_60"}, false},
      {{"\\\\?\\" + std::string(600, 'x') + "vid_e6a4&pid_6000"}, false},  // cannot be stored
      {{}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.paths.empty() ? "" : c.paths[0].substr(0, 40));
    interfaces.paths = c.paths;
    EXPECT_EQ(usb.IsDevicePresent(), c.found);
    usb.FindDevice();
    if (c.found) {
      EXPECT_EQ(std::string(usb.GetDevicePath()), c.paths[0]);
    }
  }
  interfaces.paths = std::nullopt;  // the list could not be obtained
  EXPECT_FALSE(usb.FindDevice());
  EXPECT_FALSE(usb.IsDevicePresent());
  EXPECT_FALSE(usb.GetDeviceFound());
}

}  // namespace
}  // namespace qv
