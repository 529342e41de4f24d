// Devices that answer from a captured conversation, behind the ports a simulation has.
#include <thread>

#include "cli/DevicePorts.h"
#include "sim/CaptureReplay.h"

namespace qv::cli {
namespace {

class CaptureReplayPorts final : public DevicePorts, public SimulationView {
 public:
  explicit CaptureReplayPorts(std::unique_ptr<sim::CaptureReplay> replay)
      : replay_(std::move(replay)) {}

  DeviceIo& Io() override { return *replay_; }
  DeviceInterfaces& Interfaces() override { return *replay_; }
  Clock& DeviceClock() override { return replay_->BusClock(); }
  // Nobody else can reach a replayed device.
  std::string ClaimKey(std::string_view /*path*/) override { return {}; }
  bool WaitForChange(std::chrono::milliseconds most,
                     const std::vector<std::string>& inUse) override {
    if (inUse.empty() && !replay_->ListingsAhead()) {
      // The capture shows no device coming or going any more: only an interruption can end the
      // wait, so no device time passes and the host waits in real time, as over a simulation
      // with nothing scheduled.
      std::this_thread::sleep_for(most);
      return false;
    }
    // Virtual time costs nothing: without a pause the waits would take the processor from the
    // threads of the devices at work.
    if (!inUse.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    replay_->PassIdle(most, inUse);
    return false;
  }
  SimulationView* Simulation() override { return this; }

  std::chrono::microseconds ModelledTime() override { return replay_->BusClock().Now(); }
  std::string FileError() override { return {}; }
  Clock& ClockFor(std::string_view path) override { return replay_->ClockOf(std::string(path)); }
  Clock& HostClock() override { return replay_->BusClock(); }
  std::string ReplayMismatch() override { return replay_->Mismatch(); }

 private:
  std::unique_ptr<sim::CaptureReplay> replay_;
};

}  // namespace

PortsResult ReplayPorts(const std::string& path) {
  sim::CaptureReplay::Loaded loaded = sim::CaptureReplay::Load(path);
  if (!loaded.replay) return {nullptr, "simulator setup: " + loaded.error, "replay"};
  return {std::make_unique<CaptureReplayPorts>(std::move(loaded.replay)), {}, "replay"};
}

}  // namespace qv::cli
