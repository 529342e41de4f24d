// qvtool's libusb port against bare libusb, in one run: the same control requests (a register
// read, as the tool sends it through the audio driver's path) to a device umockdev emulates, once
// through LibusbDeviceIo, which decodes the tool's request record first, and once as a plain loop
// of libusb_control_transfer. Both go through the same libusb, kernel interface and emulated
// device, so the difference is the port's own cost. Each way runs `rounds` times, alternating,
// and the fastest round of each stands. Needs umockdev's preload library:
//
//   LD_PRELOAD=libumockdev-preload.so.0 libusb_bench [requests] [rounds]   (defaults 2000, 3)

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/libusb/LibusbContext.h"
#include "platform/libusb/LibusbDeviceIo.h"
#include "tests/libusb/EmulatedUsb.h"
#include "transport/Protocol.h"
#include "transport/RequestRecords.h"

namespace {

using Clock = std::chrono::steady_clock;

// A register read of bank 0's version register: one byte in.
constexpr std::uint8_t kRequestTypeIn = 0xC3, kReadRegister = 0x91;
constexpr std::uint16_t kVersionRegister = 0xAE;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  qv::test::EmulatedUsb usb("model=Brevanto_RX1;latency-us=0");
  qv::usb::LibusbContext context;
  const auto present = context.PresentDevices();
  if (!context.Ready() || present.empty()) {
    std::fprintf(stderr, "libusb_bench: no emulated device (is umockdev's preload library set?)\n");
    return 2;
  }
  const qv::usb::UsbIdClasses classes{.audio = {present.front().idText}, .update = {}};
  qv::usb::LibusbDeviceIo io(context, classes);
  std::uint8_t answer = 0;
  const qv::SetupPacket setup{kRequestTypeIn, kReadRegister, 0, kVersionRegister};
  const std::vector<std::uint8_t> record =
      qv::EncodeVendorPropertyRecord(setup, std::span(&answer, 1));
  Clock::duration port = Clock::duration::max(), plain = Clock::duration::max();
  int failures = 0;
  // One handle open at a time: the emulated node serves one client's transfers at a time.
  for (int round = 0; round < rounds; ++round) {
    const qv::NativeHandle handle = io.Open(present.front().path.c_str());
    if (handle == qv::kInvalidHandle) return 2;
    auto start = Clock::now();
    for (int i = 0; i < requests; ++i)
      failures += !io.Control(handle, qv::protocol::kIoctlKsProperty, record, {&answer, 1}).ok;
    port = std::min(port, Clock::now() - start);
    io.Close(handle);

    libusb_device_handle* bare = nullptr;
    if (libusb_open(present.front().device.get(), &bare) != 0) return 2;
    start = Clock::now();
    for (int i = 0; i < requests; ++i)
      failures += libusb_control_transfer(bare, kRequestTypeIn, kReadRegister, 0, kVersionRegister,
                                          &answer, 1, 1000) != 1;
    plain = std::min(plain, Clock::now() - start);
    libusb_close(bare);
  }
  if (failures > 0) {
    std::fprintf(stderr, "libusb_bench: %d requests failed\n", failures);
    return 1;
  }
  std::printf("%d control requests to an emulated device, fastest of %d rounds\n", requests,
              rounds);
  std::printf("qvtool's libusb port  %.3f s  (%.1f us a request)\n", Seconds(port),
              1e6 * Seconds(port) / requests);
  std::printf("bare libusb loop      %.3f s  (%.1f us a request)\n", Seconds(plain),
              1e6 * Seconds(plain) / requests);
  std::printf("the port takes %.3fx the bare loop's time (target: within 1.1x)\n",
              Seconds(port) / Seconds(plain));
  return 0;
}
