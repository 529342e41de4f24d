// The Windows port (SetupAPI discovery, DeviceIoControl) and the connection over it, against
// devices of the loopback test driver under Wine: the real SetupAPI and I/O manager carry each
// request through a driver to the simulated chip, whose log shows what arrived.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "flash/CoreState.h"
#include "flash/FlashOperations.h"
#include "platform/DeviceHandle.h"
#include "platform/win32/Win32DeviceInterfaces.h"
#include "platform/win32/Win32DeviceIo.h"
#include "sim/VirtualClock.h"
#include "tests/win32driver/LoopbackDevices.h"
#include "transport/Protocol.h"
#include "transport/QuorvexUsb.h"
#include "transport/RequestRecords.h"

namespace qv::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class LoopbackPort : public ::testing::Test {
 protected:
  void Start(const std::string& setup, std::vector<LoopbackFaults> faults = {}) {
    devices_ = std::make_unique<LoopbackDevices>(QV_LOOPBACK_INF, setup, std::move(faults));
  }
  // The connection to the device through the audio driver's requests (1) or the vendor's (0).
  bool Connect(std::size_t device, std::uint8_t audio) {
    connection_.Close();
    connection_.SetUseAudioDriver(audio);
    return connection_.SetDevicePath(devices_->InterfacePath(device)) && connection_.Open();
  }
  std::vector<std::string> Present(const Guid& interfaceClass) {
    return interfaces_.PresentPaths(interfaceClass).value_or(std::vector<std::string>{"(none)"});
  }

  Win32DeviceIo io_;
  Win32DeviceInterfaces interfaces_;
  QuorvexUsb connection_{io_, interfaces_};
  std::unique_ptr<LoopbackDevices> devices_;
};

bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(LoopbackPort, ListsEachClassWithTheIdsInThePathsAndFindsTheLaterOfTwo) {
  Start("model=Brevanto_RX1,update-e6a4,Brevanto_RX1,update-e7b2");
  const auto audio = Present(protocol::kAudioInterfaceClass);
  const auto usb = Present(protocol::kUsbDeviceInterfaceClass);
  ASSERT_EQ(audio.size(), 2u);
  ASSERT_EQ(usb.size(), 2u);
  // As the drivers register them: the ids in lower case in the device id, the instance apart.
  for (const std::string& path : audio) {
    EXPECT_TRUE(Holds(path, "#vid_e5d3&pid_7a01&mi_00#")) << path;
    EXPECT_TRUE(Holds(path, "#{7e2c4d91-5a3b-4c6e-8f17-0b9d2a6e5c34}")) << path;
  }
  EXPECT_NE(audio[0], audio[1]);
  EXPECT_TRUE(Holds(devices_->InterfacePath(1), "#vid_e6a4&pid_6000#"));
  EXPECT_TRUE(Holds(devices_->InterfacePath(3), "#vid_e7b2&pid_6000#"));
  for (const std::string& path : usb)
    EXPECT_TRUE(Holds(path, "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}")) << path;
  EXPECT_EQ(Present(protocol::kVendorPropertySet), std::vector<std::string>{});

  // Discovery over these lists: each mode finds its class, and of two matches the later wins.
  connection_.SetUseAudioDriver(0);
  ASSERT_TRUE(connection_.SetMatchId(protocol::kUpdateMatchE7B2));
  EXPECT_TRUE(connection_.FindDevice());
  EXPECT_EQ(connection_.GetDevicePath(), devices_->InterfacePath(3));
  connection_.SetUseAudioDriver(1);
  ASSERT_TRUE(connection_.SetMatchId("vid_e5d3&pid_7a01"));
  EXPECT_TRUE(connection_.FindDevice());
  EXPECT_EQ(connection_.GetDevicePath(), audio.back());
  EXPECT_TRUE(connection_.IsDevicePresent());
  ASSERT_TRUE(connection_.SetMatchId("vid_e5d3&pid_7a02"));
  EXPECT_FALSE(connection_.IsDevicePresent());

  // Removed again at the end of a test, the devices leave nothing behind for the next one.
  devices_.reset();
  EXPECT_EQ(Present(protocol::kAudioInterfaceClass), std::vector<std::string>{});
  EXPECT_EQ(Present(protocol::kUsbDeviceInterfaceClass), std::vector<std::string>{});
}

// Each kind of request the tool makes, through the connection: the simulated drivers must have
// received exactly the record the connection built, and the caller exactly the chip's answer.
TEST_F(LoopbackPort, CarriesEveryRequestKindByteForByte) {
  Start("model=Brevanto_RX1,update-e6a4");
  struct Row {
    const char* what;
    std::size_t device;
    std::uint8_t audio;
    bool probe;
    SetupPacket setup;
    Bytes data;  // sent, or the size of the answer
  };
  const Row rows[] = {
      {.what = "property support", .device = 0, .audio = 1, .probe = true, .setup = {}, .data = {}},
      {.what = "property SET",
       .device = 0,
       .audio = 1,
       .probe = false,
       .setup = {0x43, 0x90, 0x0000, 0x0000},
       .data = {0x00}},
      {.what = "property GET",
       .device = 0,
       .audio = 1,
       .probe = false,
       .setup = {0xC3, 0x91, 0x0000, 0x00AE},
       .data = {0x55}},
      {.what = "descriptor probe", .device = 1, .audio = 0, .probe = true, .setup = {}, .data = {}},
      {.what = "vendor OUT",
       .device = 1,
       .audio = 0,
       .probe = false,
       .setup = {0x43, 0x90, 0x0000, 0x0000},
       .data = {0x00}},
      {.what = "vendor IN",
       .device = 1,
       .audio = 0,
       .probe = false,
       .setup = {0xC3, 0x91, 0x0000, 0x00AF},
       .data = {0x55}},
  };
  std::size_t seen[2] = {0, 0};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes buffer = row.data;
    if (row.probe) {
      connection_.Close();
      connection_.SetUseAudioDriver(row.audio);
      ASSERT_TRUE(connection_.SetDevicePath(devices_->InterfacePath(row.device)));
      EXPECT_TRUE(connection_.ProbeDevice());
    } else {
      ASSERT_TRUE(Connect(row.device, row.audio));
      EXPECT_TRUE(connection_.ControlRequest(row.setup.requestType, row.setup.request,
                                             row.setup.value, row.setup.index, buffer));
    }
    const auto log = devices_->Requests(row.device);
    ASSERT_EQ(log.size(), ++seen[row.device]);
    const sim::LoggedRequest& got = log.back();
    EXPECT_TRUE(got.decoded) << got.refusal;
    EXPECT_TRUE(got.ok);
    Bytes record;
    if (row.probe && row.audio) {
      const auto query = EncodePropertySupportQuery();
      record.assign(query.begin(), query.end());
    } else if (row.probe) {
      const auto descriptor = EncodeControlRequestRecord({0x80, 0x06, 0x0100, 0x0001}, 18);
      record.assign(descriptor.begin(), descriptor.end());
    } else if (row.audio) {
      record = EncodeVendorPropertyRecord(row.setup, row.data);
    } else {
      const auto control = EncodeControlRequestRecord(row.setup);
      record.assign(control.begin(), control.end());
    }
    EXPECT_EQ(got.code, row.audio   ? protocol::kIoctlKsProperty
                        : row.probe ? protocol::kIoctlVendorIn
                                    : VendorIoctlFor(row.setup.requestType));
    EXPECT_EQ(got.record, record);
    if (!row.probe) {
      EXPECT_EQ(got.data, protocol::IsDeviceToHost(row.setup.requestType) ? buffer : row.data);
    }
  }
  // The answers are the chip's: firmware 1.0 in registers AE and AF, the update device's ids in
  // its descriptor.
  const auto vendor = devices_->Requests(1);
  ASSERT_EQ(vendor[0].data.size(), 18u);
  EXPECT_EQ(Bytes(vendor[0].data.begin() + 8, vendor[0].data.begin() + 12),
            (Bytes{0xA4, 0xE6, 0x00, 0x60}));
  EXPECT_EQ(devices_->Requests(0)[2].data, Bytes{0x01});
  EXPECT_EQ(vendor[2].data, Bytes{0x00});
}

// What the drivers refuse, they refuse before the device sees it, and they never write past the
// buffer they were given.
TEST_F(LoopbackPort, ShortBuffersAreRefusedAndNeverOverrun) {
  Start("model=Brevanto_RX1,update-e6a4");
  const Bytes get = EncodeVendorPropertyRecord({0xC3, 0x91, 0x0000, 0x00AE}, Bytes(4));
  const auto descriptor = EncodeControlRequestRecord({0x80, 0x06, 0x0100, 0x0001}, 18);
  struct Row {
    const char* what;
    std::size_t device;
    std::uint32_t code;
    Bytes record;
    std::size_t output;  // bytes handed over, of a guarded buffer of 32
  };
  const Row rows[] = {
      {.what = "a property GET of 4 bytes into 2",
       .device = 0,
       .code = 0x2F0003,
       .record = get,
       .output = 2},
      {.what = "a property header cut short",
       .device = 0,
       .code = 0x2F0003,
       .record = Bytes(get.begin(), get.begin() + 16),
       .output = 4},
      {.what = "a descriptor of 18 bytes into 8",
       .device = 1,
       .code = 0x22242E,
       .record = Bytes(descriptor.begin(), descriptor.end()),
       .output = 8},
      {.what = "a request record cut short",
       .device = 1,
       .code = 0x22242E,
       .record = Bytes(descriptor.begin(), descriptor.begin() + 12),
       .output = 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    DeviceHandle handle(io_, io_.Open(devices_->InterfacePath(row.device).c_str()));
    ASSERT_TRUE(handle.Valid());
    Bytes buffer(32, 0xAA);
    EXPECT_FALSE(
        io_.Control(handle.Get(), row.code, row.record, std::span(buffer).first(row.output)).ok);
    EXPECT_EQ(buffer, Bytes(32, 0xAA));
  }
  EXPECT_TRUE(devices_->Requests(0).empty());
  EXPECT_TRUE(devices_->Requests(1).empty());
  // The same requests with room for the answer go through.
  ASSERT_TRUE(Connect(0, 1));
  Bytes version(1);
  EXPECT_TRUE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAE, version));
  EXPECT_EQ(version, Bytes{0x01});
}

// A device that never answers holds nothing for long: the request fails when its time is up, and
// the device's next answer is its own, not the late one.
TEST_F(LoopbackPort, AHungRequestFailsAfterTheTimeLimit) {
  Start("model=Brevanto_RX1", {LoopbackFaults{.hangAt = 2}});
  ASSERT_TRUE(Connect(0, 1));
  Bytes major(1), minor(1);
  EXPECT_TRUE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAE, major));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAF, minor));
  const auto waited = std::chrono::steady_clock::now() - before;
  std::printf("hung request failed after %.3f s\n", std::chrono::duration<double>(waited).count());
  EXPECT_GE(waited, std::chrono::milliseconds(1000));
  minor = {0x55};
  EXPECT_TRUE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAF, minor));
  EXPECT_EQ(minor, Bytes{0x00});
  EXPECT_EQ(devices_->Requests(0).size(), 2u);  // the hung one never reached the chip
}

TEST_F(LoopbackPort, ADeviceThatLeavesFailsItsRequestsAndLeavesTheList) {
  Start("model=Brevanto_RX1,update-e6a4;fail-after=2");
  for (std::size_t device : {0u, 1u}) {
    SCOPED_TRACE(device);
    ASSERT_TRUE(Connect(device, device == 0 ? 1 : 0));
    Bytes byte(1);
    EXPECT_TRUE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAE, byte));
    EXPECT_TRUE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAF, byte));  // then it left
    EXPECT_FALSE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAE, byte));
    EXPECT_FALSE(devices_->Plugged(device));
    connection_.Close();
    EXPECT_FALSE(Connect(device, device == 0 ? 1 : 0));
    EXPECT_EQ(devices_->Requests(device).size(), 2u);
  }
  EXPECT_EQ(Present(protocol::kAudioInterfaceClass), std::vector<std::string>{});
  EXPECT_EQ(Present(protocol::kUsbDeviceInterfaceClass), std::vector<std::string>{});
}

// A device that leaves is gone at the first request that meets it, as on Linux: a wait on the
// flash ends at once instead of polling out its ten seconds.
TEST_F(LoopbackPort, ADeviceThatLeftIsGoneAndAWaitOnItEndsAtOnce) {
  Start("model=Brevanto_RX1,update-e6a4");
  for (std::size_t device : {0u, 1u}) {
    SCOPED_TRACE(device);
    sim::VirtualClock clock;
    CoreState core(io_, interfaces_, clock);
    core.UsbDevice.SetUseAudioDriver(device == 0 ? 1 : 0);
    ASSERT_TRUE(core.UsbDevice.SetDevicePath(devices_->InterfacePath(device)));
    ASSERT_TRUE(core.UsbDevice.Open());
    Bytes byte(1);
    EXPECT_TRUE(core.UsbDevice.ControlRequest(0xC3, 0x91, 0, 0xAE, byte));
    devices_->Unplug(device);
    EXPECT_FALSE(StatusWait(core));
    EXPECT_TRUE(core.UsbDevice.Unreachable());
    EXPECT_LT(clock.Now(), std::chrono::seconds(2));
    EXPECT_EQ(devices_->Requests(device).size(), 1u);
  }
}

// A request that ran out of its time is gone only when its device's interface left the list
// meanwhile: a hung device is still there, one that left with the request is not.
TEST_F(LoopbackPort, ARequestThatTimedOutIsGoneOnlyWhenItsDeviceLeft) {
  Start("model=Brevanto_RX1", {LoopbackFaults{.hangAt = 2, .lostAt = 3}});
  ASSERT_TRUE(Connect(0, 1));
  Bytes byte(1);
  EXPECT_TRUE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAE, byte));
  EXPECT_FALSE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAF, byte));
  EXPECT_FALSE(connection_.Unreachable());
  EXPECT_FALSE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAF, byte));
  EXPECT_TRUE(connection_.Unreachable());
  EXPECT_EQ(devices_->Requests(0).size(), 1u);
}

// Only the server that took a request answers it: another handle's answer is refused. A server
// that leaves fails what it took at once, as a device that left, rather than leaving it to run out
// of its time; the server that stays answers the next request.
TEST_F(LoopbackPort, OnlyTheServerThatTookARequestAnswersOrFailsIt) {
  Start("model=Brevanto_RX1", {LoopbackFaults{.answeredElsewhereAt = 1, .serverLeavesAt = 2}});
  ASSERT_TRUE(Connect(0, 1));
  Bytes byte{0x55};
  EXPECT_TRUE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAE, byte));
  EXPECT_EQ(byte, Bytes{0x01});
  EXPECT_FALSE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAF, byte));
  EXPECT_TRUE(connection_.Unreachable());
  ASSERT_TRUE(Connect(0, 1));
  EXPECT_TRUE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAF, byte));
  EXPECT_EQ(byte, Bytes{0x00});
  EXPECT_EQ(devices_->Requests(0).size(), 2u);  // the one its server left with never reached it
}

// Each device's n-th request answered one byte short through the real drivers' calls: the read
// fails, and the next one is whole again.
TEST_F(LoopbackPort, AShortAnswerFailsItsRead) {
  Start("model=Brevanto_RX1,update-e6a4;short-request=2");
  for (std::size_t device : {0u, 1u}) {
    SCOPED_TRACE(device);
    ASSERT_TRUE(Connect(device, device == 0 ? 1 : 0));
    Bytes version(2, 0x55);
    EXPECT_TRUE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAE, std::span(version).first(1)));
    EXPECT_FALSE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAF, std::span(version).last(1)));
    EXPECT_TRUE(connection_.ControlRequest(0xC3, 0x91, 0, 0xAF, std::span(version).last(1)));
    EXPECT_EQ(version, (Bytes{0x01, 0x00}));
  }
}

}  // namespace
}  // namespace qv::test
