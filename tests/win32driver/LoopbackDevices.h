#pragma once

// The devices of a simulator setup as root-enumerated devices of the loopback test driver, their
// requests answered by the simulated chip of sim/. A program that talks to them goes through the
// real SetupAPI, the real I/O manager and a real driver: the driver hands every request to this
// object (an inverted call on the driver's control device), which lets the simulated bus answer
// it as the two drivers and the chip would, and the driver completes the program's request with
// that answer.
//
// Installing needs the driver's files (qvloopback.inf and qvloopback.sys side by side) and a Wine
// prefix of the test's own: the devices are real devices of that prefix while this object lives.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimSetup.h"
#include "tests/support/OwnedHandle.h"

struct qvloop_request;
struct qvloop_answer;

namespace qv::test {

// Faults of a device that the simulated chip does not show by itself. Requests count from 1 per
// device.
struct LoopbackFaults {
  std::optional<std::uint64_t> hangAt = std::nullopt;  // this request is never answered
  // This request is lost with its device: never answered, and the device's interface leaves the
  // lists while the request is held (the device itself is removed at the end).
  std::optional<std::uint64_t> lostAt = std::nullopt;
  // This request is answered as failed through another handle of the control device first, an
  // answer the driver must refuse, and then as the chip answers it; unanswered if no other handle
  // opens.
  std::optional<std::uint64_t> answeredElsewhereAt = std::nullopt;
  // The server that took this request leaves with it unanswered: its handle closes, after another
  // one has opened that serves on.
  std::optional<std::uint64_t> serverLeavesAt = std::nullopt;
};

class LoopbackDevices {
 public:
  // Installs one device per device of the setup ("model=A,B;fail-after=40"), with the faults of
  // the same position, and serves them until destruction. Throws std::runtime_error with the step
  // that failed when the devices cannot be installed or served.
  LoopbackDevices(const std::string& infPath, const std::string& setup,
                  std::vector<LoopbackFaults> faults = {});
  // Stops serving and removes the devices that are still there; their interfaces are gone from
  // the lists when it returns.
  ~LoopbackDevices();
  LoopbackDevices(const LoopbackDevices&) = delete;
  LoopbackDevices& operator=(const LoopbackDevices&) = delete;

  std::size_t DeviceCount() const { return devices_.size(); }
  // The device's interface path as SetupAPI lists it.
  std::string InterfacePath(std::size_t device) const;
  // "ROOT\VID_E6A4&PID_6000\0000"
  std::string InstanceId(std::size_t device) const;
  // The device leaves: the PnP manager removes it, and the simulated device leaves its bus.
  void Unplug(std::size_t device);
  bool Plugged(std::size_t device) const;
  // When the device left (unplugged, by its setup's fail-after, or lost with a request); nullopt
  // while it is there.
  std::optional<std::chrono::steady_clock::time_point> LeftAt(std::size_t device) const;
  // What the simulated drivers saw of the device's requests, in order.
  std::vector<sim::LoggedRequest> Requests(std::size_t device) const;
  std::vector<std::uint8_t> Flash(std::size_t device) const;

 private:
  struct Device;
  void Serve();
  void Answer(const qvloop_request& request, qvloop_answer& reply);
  Device* DeviceOfLink(const std::uint16_t* link);
  void Remove(Device& device);

  std::unique_ptr<sim::Simulation> simulation_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<Device>> devices_;
  OwnedHandle control_;  // this object's server handle of the driver's control device
  OwnedHandle stop_;     // set: the server thread ends
  std::thread server_;
  // The server thread answers while the test's thread looks at the simulation.
  mutable std::mutex mutex_;
};

}  // namespace qv::test
