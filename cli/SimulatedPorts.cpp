#include <map>
#include <memory>
#include <thread>

#include "cli/DevicePorts.h"
#include "platform/SteadyClock.h"
#include "sim/CaptureReplay.h"
#include "sim/PacedClock.h"
#include "sim/SimSetup.h"
#include "sim/VirtualClock.h"

namespace qv::cli {
namespace {

class SimulationPorts : public DevicePorts, public SimulationView {
 public:
  SimulationPorts(sim::Simulation& simulation, Clock* realClock)
      : simulation_(simulation),
        real_(realClock ? *realClock : steady_),
        busClock_(real_, simulation.Clock()),
        origin_(real_.Now() - simulation.Clock().Now()) {}

  DeviceIo& Io() override { return simulation_.Bus(); }
  DeviceInterfaces& Interfaces() override { return simulation_.Bus(); }
  Clock& DeviceClock() override {
    if (simulation_.RealTime()) return busClock_;
    return simulation_.Clock();
  }
  SimulationView* Simulation() override { return this; }
  std::string ClaimKey(std::string_view path) override { return simulation_.ClaimKey(path); }

  Clock& ClockFor(std::string_view path) override {
    sim::SimDevice* device = simulation_.Bus().DeviceAt(path);
    if (!device) return DeviceClock();
    if (!simulation_.RealTime()) return device->Clock();
    auto& paced = paced_[device];
    if (!paced) paced = std::make_unique<sim::PacedClock>(real_, device->Clock());
    return *paced;
  }
  UnitIdentity IdentityOf(std::string_view path) override {
    const sim::SimDevice* device = simulation_.Bus().DeviceAt(path);
    return device ? UnitIdentity{.serial = device->SerialNumber(), .address = {}} : UnitIdentity{};
  }
  // As a host reads them: the device descriptor's ids, and each string descriptor decoded.
  ReportedDescriptors DescriptorsOf(std::string_view path) override {
    sim::SimDevice* device = simulation_.Bus().DeviceAt(path);
    if (!device) return UnreadDescriptors("the device is gone");
    ReportedDescriptors reported;
    reported.vendorId = device->GetIdentity().vendorId;
    reported.productId = device->GetIdentity().productId;
    // Each string is a request of its own to the device, which its faults may refuse.
    for (std::size_t i = 0; i < reported.strings.size(); ++i) {
      DescriptorString& string = reported.strings[i];
      if (!device->AdmitRequest()) {
        string.why = "the device refused the request";
        continue;
      }
      string.text =
          DecodeStringDescriptor(device->StringDescriptor(static_cast<std::uint8_t>(i + 1)));
      if (!string.text) string.why = "the device did not give it";
    }
    return reported;
  }
  std::chrono::microseconds ModelledTime() override { return simulation_.Clock().Now(); }
  std::string FileError() override { return simulation_.FileError(); }

  // The bus's own events (a device its schedule plugs in or takes out) are noticed when they
  // come, as a hot-plug notification would be: the wait ends at the next one.
  bool WaitForChange(std::chrono::milliseconds most,
                     const std::vector<std::string>& inUse) override {
    return simulation_.RealTime() ? WaitInRealTime(most, inUse) : WaitInVirtualTime(most, inUse);
  }
  Clock& HostClock() override {
    if (simulation_.RealTime()) return real_;
    return host_;
  }

 private:
  // The time the host has waited through is the time of the devices' events, no more: the
  // devices nobody works with come up to it, and none moves past the next of their schedules.
  bool WaitInVirtualTime(std::chrono::milliseconds most, const std::vector<std::string>& inUse) {
    // Virtual time costs nothing: without a pause the waits would take the processor time of the
    // devices' threads while they work.
    if (!inUse.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sim::SimBus& bus = simulation_.Bus();
    const std::chrono::microseconds now = host_.Now();
    if (bus.AdvanceIdleTo(now, inUse)) return true;  // a device freed at a change it worked past
    std::optional<std::chrono::microseconds> until = bus.NextScheduledChange(now, inUse);
    // While devices are at work the host's time follows the one furthest behind: their threads
    // move their clocks, and what the others do meanwhile happens at those times.
    std::optional<std::chrono::microseconds> behind;
    for (const std::string& path : inUse)
      if (const auto time = bus.TimeOf(path); time && (!behind || *time < *behind)) behind = time;
    if (behind && (!until || *behind < *until)) until = behind;
    if (!until || *until <= now) {
      // Nothing happens until the devices' threads have worked, or ever (an interruption is the
      // only end): no time passes, and an idle host waits in real time.
      if (inUse.empty()) std::this_thread::sleep_for(most);
      return false;
    }
    host_.Advance(*until - now);
    return bus.AdvanceIdleTo(*until, inUse);
  }

  // Absolute deadlines on the real clock: the devices' time is the real time since the
  // simulation's origin, so a wait that wakes late never puts them behind.
  bool WaitInRealTime(std::chrono::milliseconds most, const std::vector<std::string>& inUse) {
    sim::SimBus& bus = simulation_.Bus();
    const auto elapsed = [this] { return real_.Now() - origin_; };
    const std::chrono::microseconds now = elapsed();
    if (bus.AdvanceIdleTo(now, inUse)) return true;
    std::chrono::microseconds deadline = now + most;
    if (const auto next = bus.NextScheduledChange(now, inUse); next && *next < deadline)
      deadline = *next;
    if (const auto left = deadline - elapsed(); left.count() > 0)
      real_.Sleep(static_cast<std::uint32_t>((left.count() + 999) / 1000));
    return bus.AdvanceIdleTo(elapsed(), inUse);
  }

  sim::Simulation& simulation_;
  // In real time, pauses pass on the wall clock and on the simulated devices' clocks alike.
  SteadyClock steady_;
  Clock& real_;  // the steady clock, or the one a test gives
  sim::PacedClock busClock_;
  sim::VirtualClock host_;  // the station's own time over devices that keep theirs
  // In real time: the wall clock's time when the devices' clocks were at zero.
  std::chrono::microseconds origin_;
  std::map<const sim::SimDevice*, std::unique_ptr<sim::PacedClock>> paced_;
};

// Constructed before the ports that use it, as the first base.
struct SimulationHolder {
  explicit SimulationHolder(const sim::SimSetup& setup) : simulation(setup) {}
  // Saves the flash file, when it changed, as it ends.
  sim::Simulation simulation;
};

class OwnedSimulationPorts final : private SimulationHolder, public SimulationPorts {
 public:
  explicit OwnedSimulationPorts(const sim::SimSetup& setup)
      : SimulationHolder(setup), SimulationPorts(simulation, nullptr) {
    // Nobody reads the simulator's own request log here (-v and --log trace the requests as they
    // go), and a bench that runs all day would only grow it.
    simulation.Bus().SetLogEnabled(false);
  }
};

}  // namespace

std::unique_ptr<DevicePorts> PortsOver(sim::Simulation& simulation, Clock* realClock) {
  return std::make_unique<SimulationPorts>(simulation, realClock);
}

PortsResult SimulatedPorts(std::string_view setup) {
  if (const auto replay = sim::ParseReplaySetup(setup)) {
    if (!replay->error.empty()) return {nullptr, "simulator setup: " + replay->error};
    return ReplayPorts(replay->file);
  }
  const sim::SimSetupResult parsed = sim::ParseSimSetup(setup);
  if (!parsed.setup) return {nullptr, "simulator setup: " + parsed.error};
  auto ports = std::make_unique<OwnedSimulationPorts>(*parsed.setup);
  // A flash that silently stands in for an unreadable file would prove nothing about the file.
  if (!ports->FileError().empty()) return {nullptr, "simulator setup: " + ports->FileError()};
  return {std::move(ports), {}};
}

}  // namespace qv::cli
