#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "platform/DeviceInterfaces.h"
#include "platform/DeviceIo.h"
#include "sim/RequestLog.h"
#include "sim/SimDevice.h"
#include "sim/VirtualClock.h"

namespace qv::sim {

// The USB stack, the two drivers and the plugged devices: what the tool reaches through the
// DeviceIo and DeviceInterfaces ports.
class SimBus : public DeviceIo, public DeviceInterfaces {
 public:
  explicit SimBus(VirtualClock& clock) : clock_(clock) {}

  // Plugs a new device in and returns it; it stays owned by the bus.
  SimDevice& Plug(Identity identity);
  void Unplug(SimDevice& device);
  void Replug(SimDevice& device);
  bool IsPlugged(const SimDevice& device) const;
  std::size_t DeviceCount() const { return devices_.size(); }
  SimDevice& Device(std::size_t i) { return *devices_[i].device; }
  const SimDevice& Device(std::size_t i) const { return *devices_[i].device; }

  // Each request takes this long on the virtual clock, as a real USB link would.
  void SetLatency(std::chrono::microseconds latency) { latency_ = latency; }

  RequestLog& Log() { return log_; }
  const RequestLog& Log() const { return log_; }
  std::size_t OpenHandleCount() const { return handles_.size(); }
  // Handles opened so far, for tests that pin when a connection is opened again.
  std::size_t OpenCount() const { return opens_; }

  // DeviceIo
  NativeHandle Open(const char* path) override;
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override;
  void Close(NativeHandle handle) override;

  // DeviceInterfaces
  std::optional<std::vector<std::string>> PresentPaths(const Guid& interfaceClass) override;

 private:
  struct Slot {
    std::unique_ptr<SimDevice> device;
    bool plugged = true;
    std::uint64_t plugGeneration = 0;  // bumped on every unplug, so stale handles fail
  };
  struct OpenHandle {
    std::size_t slot;
    std::uint64_t plugGeneration;
    std::uint64_t identityGeneration;
  };

  std::size_t SlotOf(const SimDevice& device) const;
  bool Answer(SimDevice& device, bool admitted, std::uint32_t code,
              std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
              LoggedRequest& entry);

  VirtualClock& clock_;
  std::vector<Slot> devices_;
  std::map<NativeHandle, OpenHandle> handles_;
  NativeHandle nextHandle_ = 0x100;
  std::size_t opens_ = 0;
  std::chrono::microseconds latency_{0};
  RequestLog log_;
};

}  // namespace qv::sim
