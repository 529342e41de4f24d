#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/DeviceInterfaces.h"
#include "platform/DeviceIo.h"
#include "platform/UsbDescriptors.h"
#include "util/StreamedFile.h"

namespace qv::sim {
class Simulation;
}  // namespace qv::sim

namespace qv::cli {

// What only a simulation has, for the tool to show and to keep its time by: real ports have none
// of it.
class SimulationView {
 public:
  virtual ~SimulationView() = default;
  // The device time the simulation has modelled so far.
  virtual std::chrono::microseconds ModelledTime() = 0;
  // Why the simulated flash could not be kept in its file; empty when it could.
  virtual std::string FileError() = 0;
  // The clock of one device's work, for devices updated side by side on their own threads: each
  // simulated device keeps its own time. Fetched for every device before the threads start.
  virtual Clock& ClockFor(std::string_view path) = 0;
  // The host's own time over devices that keep theirs, for how long a run of waits and updates
  // took.
  virtual Clock& HostClock() = 0;
  // A replayed capture's first request that was not the captured one; empty while all were, and
  // for a simulated device.
  virtual std::string ReplayMismatch() { return {}; }
};

// What tells one unit from another beyond the port it is on, for a record that must name the
// unit it updated: its USB serial number (its serial string descriptor) where it has one, and its
// address on the bus ("001:005", bus and device number), which changes at every enumeration.
// Empty where the port does not know.
struct UnitIdentity {
  std::string serial;
  std::string address;
};

// Where the tool's requests go: the real devices through this platform's drivers, or the
// simulated device.
class DevicePorts {
 public:
  virtual ~DevicePorts() = default;
  virtual DeviceIo& Io() = 0;
  virtual DeviceInterfaces& Interfaces() = 0;
  // The clock of the requests' pauses; real devices share it for everything.
  virtual Clock& DeviceClock() = 0;
  // Why a present device's path could not be opened (no permission, for one); empty when it
  // opened, or when nothing more is known than that it failed.
  virtual std::string OpenProblem(std::string_view /*path*/) { return {}; }

  // A host's wait for devices to come and go: up to `most` passes, less when the ports learn
  // sooner that a device came or went. On simulated devices time passes for those not in `inUse`,
  // whose own work moves their clocks. True when the ports know that something changed; false
  // tells nothing, and the caller looks again.
  virtual bool WaitForChange(std::chrono::milliseconds most,
                             const std::vector<std::string>& /*inUse*/) {
    DeviceClock().Sleep(static_cast<std::uint32_t>(most.count()));
    return false;
  }

  // What this process claims to own the device at `path` (platform/DeviceOwner.h): the path of a
  // real device; for a simulated one its flash file, or nothing when no other process can reach
  // it.
  virtual std::string ClaimKey(std::string_view path) { return std::string(path); }

  // The identity of the device at `path`, read when it is asked for: a real device may be asked
  // for its serial string.
  virtual UnitIdentity IdentityOf(std::string_view /*path*/) { return {}; }

  // What the device at `path` reports in its descriptors now, asked when it is asked for; what a
  // port cannot read is unread, with the reason.
  virtual ReportedDescriptors DescriptorsOf(std::string_view /*path*/) {
    return UnreadDescriptors("these ports cannot read a device's descriptors", true);
  }

  // The simulation behind the ports; nullptr for real devices.
  virtual SimulationView* Simulation() { return nullptr; }
};

// The clock of one device's work among several: a simulated device's own, the real clock that
// real devices share.
inline Clock& ClockOfDevice(DevicePorts& ports, std::string_view path) {
  SimulationView* simulation = ports.Simulation();
  return simulation ? simulation->ClockFor(path) : ports.DeviceClock();
}

struct PortsResult {
  std::unique_ptr<DevicePorts> ports;
  std::string error;  // set when ports is empty
  // What answers, as a capture's first line names it: "libusb", "setupapi", "simulated",
  // "replay".
  const char* kind = "simulated";
};

// The simulated device of a setup text; a bad setup or an unreadable flash file is an error.
// "replay=FILE" is a device that answers from a capture (ReplayPorts).
PortsResult SimulatedPorts(std::string_view setup);

// Devices that answer from the capture at `path`, on a virtual clock that each captured request
// moves by the time it took; a capture that cannot be read is an error.
PortsResult ReplayPorts(const std::string& path);

// Ports whose discoveries, opens and requests are written to `file` as they happen (a
// conversation capture); everything else is `inner`'s. `inner` lives as long as the result.
std::unique_ptr<DevicePorts> CapturedPorts(std::unique_ptr<DevicePorts> inner, StreamedFile& file,
                                           const char* kind);

// Ports over a simulation the caller owns and keeps alive, for running the tool against a
// device whose faults and flash the caller sets up and inspects. A real-time simulation keeps
// `realClock` as the wall clock (a test's own), or the steady clock.
std::unique_ptr<DevicePorts> PortsOver(sim::Simulation& simulation, Clock* realClock = nullptr);

// The real devices through this platform's drivers, or why this build cannot reach them.
PortsResult RealPorts();

}  // namespace qv::cli
