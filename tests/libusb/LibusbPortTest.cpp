// The libusb port against devices umockdev emulates, in the test's own process: libusb's own
// Linux code lists, opens and talks to them.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/DriverRecords.h"
#include "platform/libusb/LibusbDeviceInterfaces.h"
#include "platform/libusb/LibusbDeviceIo.h"
#include "tests/libusb/EmulatedUsb.h"
#include "transport/QuorvexUsb.h"
#include "transport/RequestRecords.h"

namespace qv::test {
namespace {

using Paths = std::vector<std::string>;

const usb::UsbIdClasses kIds{{"vid_e5d3&pid_7a01"}, {"vid_e6a4&pid_6000"}};

// A port over the emulated devices, started after them as the tool starts after plugging.
class LibusbPort : public ::testing::Test {
 protected:
  void Start(const std::string& setup, std::vector<LinkFaults> faults = {}) {
    usb_ = std::make_unique<EmulatedUsb>(setup, std::move(faults));
    context_ = std::make_unique<usb::LibusbContext>();
    ASSERT_TRUE(context_->Ready()) << context_->Error();
    io_ = std::make_unique<usb::LibusbDeviceIo>(*context_, kIds);
    interfaces_ = std::make_unique<usb::LibusbDeviceInterfaces>(*context_, kIds);
    connection_ = std::make_unique<QuorvexUsb>(*io_, *interfaces_);
  }
  // Opens the device at the path through the audio driver's requests (1) or the vendor's (0).
  bool Connect(const std::string& path, std::uint8_t audio) {
    connection_->SetUseAudioDriver(audio);
    return connection_->SetDevicePath(path) && connection_->Open();
  }
  bool Request(std::uint8_t type, std::uint8_t request, std::uint16_t index,
               std::vector<std::uint8_t>& data) {
    return connection_->ControlRequest(type, request, 0, index, data);
  }
  Paths Present(const Guid& interfaceClass) { return *interfaces_->PresentPaths(interfaceClass); }

  std::unique_ptr<EmulatedUsb> usb_;
  std::unique_ptr<usb::LibusbContext> context_;
  std::unique_ptr<usb::LibusbDeviceIo> io_;
  std::unique_ptr<usb::LibusbDeviceInterfaces> interfaces_;
  std::unique_ptr<QuorvexUsb> connection_;
};

TEST_F(LibusbPort, ListsEachKnownDeviceInItsDriversClassByItsIdsAndPlaceOnTheBus) {
  Start("model=Brevanto_RX1,update-e6a4,Brevanto_RX1,update-e7b2");
  // Two devices of one model differ by their port; an id the classes do not hold is not listed.
  EXPECT_EQ(Present(drivers::kAudioClass),
            (Paths{"usb#vid_e5d3&pid_7a01#1-1", "usb#vid_e5d3&pid_7a01#1-3"}));
  EXPECT_EQ(Present(drivers::kUsbDeviceClass), (Paths{"usb#vid_e6a4&pid_6000#1-2"}));
  EXPECT_EQ(Present(drivers::kVendorSet), Paths{});
  // Listing reads what the kernel keeps: not a single transfer reached a device.
  for (std::size_t i = 0; i < usb_->DeviceCount(); ++i) EXPECT_TRUE(usb_->Transfers(i).empty());
}

TEST_F(LibusbPort, CarriesBothRecordKindsAsTheControlTransfersTheyDescribe) {
  Start("model=Brevanto_RX1,update-e6a4");
  // Audio path: the property-support probe needs no transfer; a GET property becomes 0xC3 and a
  // SET 0x43, with request, index and data stage from the record.
  ASSERT_TRUE(connection_->SetDevicePath("usb#vid_e5d3&pid_7a01#1-1"));
  connection_->SetUseAudioDriver(1);
  EXPECT_TRUE(connection_->ProbeDevice());
  EXPECT_TRUE(usb_->Transfers(0).empty());
  ASSERT_TRUE(Connect("usb#vid_e5d3&pid_7a01#1-1", 1));
  std::vector<std::uint8_t> bank{0x00};
  EXPECT_TRUE(Request(0x43, 0x90, 0x00, bank));
  std::vector<std::uint8_t> version{0x55};
  EXPECT_TRUE(Request(0xC3, 0x91, 0xAE, version));
  const auto audio = usb_->Transfers(0);
  ASSERT_EQ(audio.size(), 2u);
  EXPECT_EQ(audio[0].requestType, 0x43);
  EXPECT_EQ(audio[0].request, 0x90);
  EXPECT_EQ(audio[0].data, (std::vector<std::uint8_t>{0x00}));
  EXPECT_EQ(audio[1].requestType, 0xC3);
  EXPECT_EQ(audio[1].index, 0xAE);
  EXPECT_EQ(audio[1].length, 1);
  EXPECT_EQ(version, audio[1].data);  // the chip's answer reached the caller's buffer

  // Vendor path: the probe reads the device descriptor; a request record keeps its own type.
  connection_->Close();
  ASSERT_TRUE(connection_->SetDevicePath("usb#vid_e6a4&pid_6000#1-2"));
  connection_->SetUseAudioDriver(0);
  EXPECT_TRUE(connection_->ProbeDevice());
  ASSERT_TRUE(Connect("usb#vid_e6a4&pid_6000#1-2", 0));
  std::vector<std::uint8_t> answer{0};
  EXPECT_TRUE(Request(0xC3, 0x91, 0xAE, answer));
  const auto vendor = usb_->Transfers(1);
  ASSERT_EQ(vendor.size(), 2u);
  EXPECT_EQ(vendor[0].requestType, 0x80);
  EXPECT_EQ(vendor[0].request, 0x06);
  EXPECT_EQ(vendor[0].value, 0x0100);
  EXPECT_EQ(vendor[0].index, 0x0001);
  EXPECT_EQ(vendor[0].length, 18);
  EXPECT_EQ(vendor[0].data[8], 0xA4);  // idVendor E6A4, little-endian
  EXPECT_EQ(vendor[1].requestType, 0xC3);
  EXPECT_EQ(vendor[1].request, 0x91);

  // Each driver knows only its own requests: a property record on the vendor path is refused
  // before anything is sent.
  const NativeHandle handle = io_->Open("usb#vid_e6a4&pid_6000#1-2");
  ASSERT_NE(handle, kInvalidHandle);
  EXPECT_FALSE(io_->Control(handle, drivers::kKsPropertyCode, EncodePropertySupportQuery(), {}).ok);
  io_->Close(handle);
  EXPECT_EQ(usb_->Transfers(1).size(), 2u);
}

TEST_F(LibusbPort, ShortStalledHungAndVanishedTransfersFail) {
  // Transfer 1 answers short, 2 hangs until the 1 s timeout, 3 and later stall.
  Start("model=Brevanto_RX1", {LinkFaults{.stallFrom = 3, .hangAt = 2, .shortAt = 1}});
  ASSERT_TRUE(Connect("usb#vid_e5d3&pid_7a01#1-1", 1));
  std::vector<std::uint8_t> byte{0};
  EXPECT_FALSE(Request(0xC3, 0x91, 0xAE, byte));  // short
  EXPECT_FALSE(Request(0xC3, 0x91, 0xAE, byte));  // hung
  EXPECT_FALSE(Request(0xC3, 0x91, 0xAF, byte));  // stalled
  const auto seen = usb_->Transfers(0);
  ASSERT_EQ(seen.size(), 2u);  // the hung one never completed
  EXPECT_EQ(seen[1].status, -EPIPE);
}

TEST_F(LibusbPort, ADeviceThatLeavesFailsItsRequestsAndLeavesTheList) {
  Start("model=Brevanto_RX1;fail-after=2");
  ASSERT_TRUE(Connect("usb#vid_e5d3&pid_7a01#1-1", 1));
  std::vector<std::uint8_t> byte{0};
  EXPECT_TRUE(Request(0xC3, 0x91, 0xAE, byte));
  EXPECT_TRUE(Request(0xC3, 0x91, 0xAF, byte));  // answered, then the device left
  EXPECT_FALSE(Request(0xC3, 0x91, 0xAE, byte));
  EXPECT_FALSE(usb_->Plugged(0));
  // libusb learns of the removal from its uevent, on a thread of its own.
  for (int i = 0; i < 200 && !Present(drivers::kAudioClass).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Present(drivers::kAudioClass), Paths{});
  connection_->Close();
  EXPECT_FALSE(Connect("usb#vid_e5d3&pid_7a01#1-1", 1));
  EXPECT_EQ(io_->OpenProblem("usb#vid_e5d3&pid_7a01#1-1"), "");  // gone, not refused
}

}  // namespace
}  // namespace qv::test
