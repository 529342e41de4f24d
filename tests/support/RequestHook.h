#pragma once

// The simulation's own ports with a hook after every request, for tests that act at an exact
// request: press Ctrl-C, unplug a device, make the next request fail.

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/DevicePorts.h"
#include "sim/SimSetup.h"

namespace qv::test {

// Forwards everything to the ports over `simulation` (real time, the devices' own clocks and the
// schedule's waits included) and calls the hook once each request has been answered, on the
// thread that made it, with the handle it was made on.
class RequestHook final : public cli::DevicePorts, private DeviceIo {
 public:
  RequestHook(sim::Simulation& simulation, std::function<void(NativeHandle)> after)
      : inner_(cli::PortsOver(simulation)), after_(std::move(after)) {}
  RequestHook(sim::Simulation& simulation, const std::function<void()>& after)
      : RequestHook(simulation, after ? [after](NativeHandle) { after(); }
                                      : std::function<void(NativeHandle)>()) {}

  DeviceIo& Io() override { return *this; }
  DeviceInterfaces& Interfaces() override { return inner_->Interfaces(); }
  Clock& DeviceClock() override { return inner_->DeviceClock(); }
  std::string OpenProblem(std::string_view path) override { return inner_->OpenProblem(path); }
  bool WaitForChange(std::chrono::milliseconds most,
                     const std::vector<std::string>& inUse) override {
    return inner_->WaitForChange(most, inUse);
  }
  cli::SimulationView* Simulation() override { return inner_->Simulation(); }
  std::string ClaimKey(std::string_view path) override { return inner_->ClaimKey(path); }
  cli::UnitIdentity IdentityOf(std::string_view path) override { return inner_->IdentityOf(path); }
  ReportedDescriptors DescriptorsOf(std::string_view path) override {
    return inner_->DescriptorsOf(path);
  }

 private:
  NativeHandle Open(const char* path) override { return inner_->Io().Open(path); }
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override {
    const IoResult result = inner_->Io().Control(handle, code, input, output);
    if (after_) after_(handle);
    return result;
  }
  void Close(NativeHandle handle) override { inner_->Io().Close(handle); }

  std::unique_ptr<cli::DevicePorts> inner_;
  std::function<void(NativeHandle)> after_;
};

}  // namespace qv::test
