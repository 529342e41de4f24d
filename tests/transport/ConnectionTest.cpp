#include <gtest/gtest.h>

#include <vector>

#include "tests/support/SimFixture.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

class Connection : public test::SimFixture {};

TEST_F(Connection, StartsClosedWithTheUpdateIdAndTheVendorDriver) {
  EXPECT_FALSE(usb().GetDeviceFound());
  EXPECT_EQ(usb().GetUseAudioDriver(), 0);
  EXPECT_STREQ(usb().GetMatchId(), "vid_e7b2&pid_6000");
  EXPECT_STREQ(usb().GetDevicePath(), "");
  EXPECT_FALSE(usb().IsOpen());
}

TEST_F(Connection, RequestsOnAClosedConnectionFailWithoutReachingTheDevice) {
  std::uint8_t byte = 0x5A;
  EXPECT_FALSE(usb().ControlRequest(0xC3, 0x91, 0, 0xAE, {&byte, 1}));
  usb().SetUseAudioDriver(1);
  ASSERT_TRUE(usb().SetMatchId("vid_e5d3&pid_7a01"));
  ASSERT_TRUE(usb().FindDevice());
  bus().ClearLog();
  EXPECT_FALSE(usb().ControlRequest(0x43, 0x90, 0, 0x91, {&byte, 1}));
  usb().Close();  // closing a closed connection does nothing
  EXPECT_EQ(log().Size(), 0u);
  EXPECT_EQ(byte, 0x5A);
}

TEST_F(Connection, AFailedOpenLeavesTheConnectionClosed) {
  ConnectAudio();
  bus().Unplug(device());
  EXPECT_FALSE(usb().Open());  // the stored path no longer opens
  EXPECT_FALSE(usb().IsOpen());
  std::uint8_t byte = 0;
  EXPECT_FALSE(usb().ControlRequest(0xC3, 0x91, 0, 0, {&byte, 1}));
  EXPECT_EQ(log().Size(), 0u);
}

TEST_F(Connection, OpeningTwiceHoldsExactlyOneHandle) {
  ConnectAudio();
  EXPECT_TRUE(usb().Open());
  EXPECT_EQ(bus().OpenHandleCount(), 1u);
  usb().Close();
  EXPECT_EQ(bus().OpenHandleCount(), 0u);
}

TEST_F(Connection, DestroyingTheConnectionClosesItsHandle) {
  {
    QuorvexUsb other(bus(), bus());
    other.SetUseAudioDriver(1);
    ASSERT_TRUE(other.SetMatchId("vid_e5d3&pid_7a01"));
    other.FindDevice();
    ASSERT_TRUE(other.Open());
    EXPECT_EQ(bus().OpenHandleCount(), 1u);
  }
  EXPECT_EQ(bus().OpenHandleCount(), 0u);
}

TEST_F(Connection, AudioPathCarriesBothDirectionsAsPropertyRequests) {
  ConnectAudio();
  std::uint8_t value = 0x3C;
  ASSERT_TRUE(usb().ControlRequest(0x43, 0x90, 0, 0x91, {&value, 1}));
  std::uint8_t readBack = 0;
  ASSERT_TRUE(usb().ControlRequest(0xC3, 0x91, 0, 0x91, {&readBack, 1}));
  EXPECT_EQ(readBack, 0x3C);
  ASSERT_EQ(log().Size(), 2u);
  for (const auto& entry : log().Entries()) {
    EXPECT_EQ(entry.code, 0x2F0003u);
    EXPECT_EQ(entry.record.size(), 48u);
    EXPECT_TRUE(entry.decoded) << entry.refusal;
  }
  EXPECT_EQ(log()[0].data, Bytes{0x3C});
  EXPECT_EQ(log()[1].data, Bytes{0x3C});
}

TEST_F(Connection, VendorPathUsesTheDirectionsIoControlCode) {
  device().SetIdentity(*sim::IdentityByName("update-e7b2"));
  ASSERT_TRUE(usb().FindDevice());
  ASSERT_TRUE(usb().Open());
  bus().ClearLog();
  std::uint8_t value = 0x7E;
  ASSERT_TRUE(usb().ControlRequest(0x43, 0x90, 0, 0x20, {&value, 1}));
  std::uint8_t readBack = 0;
  ASSERT_TRUE(usb().ControlRequest(0xC3, 0x91, 0, 0x20, {&readBack, 1}));
  EXPECT_EQ(readBack, 0x7E);
  ASSERT_EQ(log().Size(), 2u);
  EXPECT_EQ(log()[0].code, 0x222429u);
  EXPECT_EQ(log()[1].code, 0x22242Eu);
  EXPECT_EQ(log()[0].record.size(), 24u);
}

TEST_F(Connection, TheWrongDriverPathIsRefused) {
  ConnectAudio();
  usb().SetUseAudioDriver(0);  // vendor records sent to the audio driver
  std::uint8_t byte = 0;
  EXPECT_FALSE(usb().ControlRequest(0xC3, 0x91, 0, 0, {&byte, 1}));
  ASSERT_EQ(log().Size(), 1u);
  EXPECT_FALSE(log()[0].decoded);
}

TEST_F(Connection, MatchTextsThatDoNotFitAreRefused) {
  EXPECT_TRUE(usb().SetMatchId(std::string(49, 'a')));
  EXPECT_EQ(std::string(usb().GetMatchId()), std::string(49, 'a'));
  EXPECT_FALSE(usb().SetMatchId(std::string(50, 'b')));
  EXPECT_EQ(std::string(usb().GetMatchId()), std::string(49, 'a'));
  EXPECT_TRUE(usb().SetDevicePath(std::string(511, 'p')));
  EXPECT_FALSE(usb().SetDevicePath(std::string(512, 'q')));
  EXPECT_EQ(std::string(usb().GetDevicePath()), std::string(511, 'p'));
}

}  // namespace
}  // namespace qv
