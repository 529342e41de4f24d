#include <map>
#include <memory>
#include <thread>

#include "cli/DevicePorts.h"
#include "platform/SteadyClock.h"
#include "sim/PacedClock.h"
#include "sim/SimSetup.h"
#include "sim/VirtualClock.h"

namespace qv::cli {
namespace {

class SimulationPorts : public DevicePorts, public SimulationView {
 public:
  explicit SimulationPorts(sim::Simulation& simulation)
      : simulation_(simulation), busClock_(real_, simulation.Clock()) {}

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
  std::chrono::microseconds ModelledTime() override { return simulation_.Clock().Now(); }
  std::string FileError() override { return simulation_.FileError(); }

  bool WaitForChange(std::chrono::milliseconds most,
                     const std::vector<std::string>& inUse) override {
    // A device plugged in by its schedule is the bus's own event, noticed within one step, as a
    // hot-plug notification would be.
    constexpr std::chrono::milliseconds kStep{10};
    if (!simulation_.RealTime() && !inUse.empty()) {
      // Virtual time costs nothing: without a pause the waits would take the devices' threads'
      // processor time while they work.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::chrono::milliseconds waited{0}; waited < most; waited += kStep) {
      HostClock().Sleep(static_cast<std::uint32_t>(kStep.count()));
      if (simulation_.Bus().AdvanceIdle(kStep, inUse)) return true;
    }
    return false;
  }
  Clock& HostClock() override {
    if (simulation_.RealTime()) return real_;
    return host_;
  }

 private:
  sim::Simulation& simulation_;
  // In real time, pauses pass on the wall clock and on the simulated devices' clocks alike.
  SteadyClock real_;
  sim::PacedClock busClock_;
  sim::VirtualClock host_;  // the station's own time over devices that keep theirs
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
      : SimulationHolder(setup), SimulationPorts(simulation) {}
};

}  // namespace

std::unique_ptr<DevicePorts> PortsOver(sim::Simulation& simulation) {
  return std::make_unique<SimulationPorts>(simulation);
}

PortsResult SimulatedPorts(std::string_view setup) {
  const sim::SimSetupResult parsed = sim::ParseSimSetup(setup);
  if (!parsed.setup) return {nullptr, "simulator setup: " + parsed.error};
  auto ports = std::make_unique<OwnedSimulationPorts>(*parsed.setup);
  // A flash that silently stands in for an unreadable file would prove nothing about the file.
  if (!ports->FileError().empty()) return {nullptr, "simulator setup: " + ports->FileError()};
  return {std::move(ports), {}};
}

}  // namespace qv::cli
