#include "cli/DevicePorts.h"
#include "sim/SimSetup.h"

namespace qv::cli {
namespace {

class SimulatedDevicePorts final : public DevicePorts {
 public:
  explicit SimulatedDevicePorts(const sim::SimSetup& setup) : simulation_(setup) {}

  DeviceIo& Io() override { return simulation_.Bus(); }
  DeviceInterfaces& Interfaces() override { return simulation_.Bus(); }
  Clock& DeviceClock() override { return simulation_.Clock(); }
  std::optional<std::chrono::microseconds> ModelledTime() override {
    return simulation_.Clock().Now();
  }
  std::string FileError() override { return simulation_.FileError(); }

 private:
  // Saves the flash file, when it changed, as it ends.
  sim::Simulation simulation_;
};

}  // namespace

PortsResult SimulatedPorts(std::string_view setup) {
  const sim::SimSetupResult parsed = sim::ParseSimSetup(setup);
  if (!parsed.setup) return {nullptr, "simulator setup: " + parsed.error};
  auto ports = std::make_unique<SimulatedDevicePorts>(*parsed.setup);
  // A flash that silently stands in for an unreadable file would prove nothing about the file.
  if (!ports->FileError().empty()) return {nullptr, "simulator setup: " + ports->FileError()};
  return {std::move(ports), {}};
}

}  // namespace qv::cli
