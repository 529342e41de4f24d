#pragma once

// USB devices for the real libusb: umockdev emulates their sysfs entries and usbfs device nodes
// in a test bed, and the control transfers that reach a node are answered by the simulated chip
// of sim/. The libusb of the test's own process, or of a qvtool it runs, then goes through its
// own Linux code (device list, open, URB submit and reap) to the simulated device.
//
// The processes need umockdev's preload library (LD_PRELOAD=libumockdev-preload.so.0); children
// inherit it and the test bed's location.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/SimSetup.h"

namespace qv::test {

// Faults of the USB link that the simulated device does not show by itself. Transfers count
// from 1 per device.
struct LinkFaults {
  std::optional<std::uint64_t> stallFrom;  // this transfer and every later one stalls
  std::optional<std::uint64_t> hangAt;     // this transfer never completes
  std::optional<std::uint64_t> shortAt;    // this device-to-host transfer answers a byte short
};

// One control transfer as the device saw it.
struct SeenTransfer {
  std::uint8_t requestType = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
  std::vector<std::uint8_t> data;  // data stage: bytes sent, or bytes answered
  int status = 0;                  // 0, or the negative errno the URB completed with
};

class EmulatedUsb {
 public:
  // The devices of a simulator setup text ("model=A,B;fail-after=40"), each on its own port of
  // bus 1 (ports 1, 2, ...), with the link faults of the same position.
  explicit EmulatedUsb(const std::string& setup, std::vector<LinkFaults> faults = {});
  ~EmulatedUsb();
  EmulatedUsb(const EmulatedUsb&) = delete;
  EmulatedUsb& operator=(const EmulatedUsb&) = delete;

  sim::Simulation& Simulation() { return *simulation_; }
  std::size_t DeviceCount() const;
  // The device leaves the bus: its node and sysfs entry go, with a "remove" uevent.
  void Unplug(std::size_t device);
  // It comes back: its sysfs entry and node again, with an "add" uevent, as a hot-plug does.
  void Replug(std::size_t device);
  bool Plugged(std::size_t device) const;
  std::vector<SeenTransfer> Transfers(std::size_t device) const;
  std::string Node(std::size_t device) const;  // "/dev/bus/usb/001/002"

  // Takes read and write access to the device's node from every user but root, as a system
  // without the udev rules does. A root test opens the test bed to the user that runs the tool
  // in its place (see ToolUserPrefix).
  void DenyAccess(std::size_t device);
  // What runs qvtool without root's rights when the test itself has them: "" for a test that
  // runs as a user already.
  static std::string ToolUserPrefix();

  struct Bed;
  struct Device;  // one emulated device, answering its ioctls on umockdev's thread

 private:
  std::unique_ptr<sim::Simulation> simulation_;
  std::unique_ptr<Bed> bed_;
  std::vector<std::unique_ptr<Device>> devices_;
};

}  // namespace qv::test
