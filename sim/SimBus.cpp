#include "sim/SimBus.h"

#include <algorithm>

namespace qv::sim {

SimDevice& SimBus::Plug(Identity identity) {
  // Instance ids differ per device as Windows' do, so two devices of one model have two paths.
  const std::string instance = "5&2c3d4e5f&0&" + std::to_string(devices_.size() + 2);
  devices_.push_back({std::make_unique<SimDevice>(std::move(identity), instance, clock_), true, 0});
  return *devices_.back().device;
}

std::size_t SimBus::SlotOf(const SimDevice& device) const {
  const auto it = std::find_if(devices_.begin(), devices_.end(),
                               [&](const Slot& s) { return s.device.get() == &device; });
  return static_cast<std::size_t>(it - devices_.begin());
}

void SimBus::Unplug(SimDevice& device) {
  Slot& slot = devices_[SlotOf(device)];
  if (!slot.plugged) return;
  slot.plugged = false;
  ++slot.plugGeneration;
}

void SimBus::Replug(SimDevice& device) {
  devices_[SlotOf(device)].plugged = true;
}

bool SimBus::IsPlugged(const SimDevice& device) const {
  return devices_[SlotOf(device)].plugged;
}

NativeHandle SimBus::Open(const char* path) {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    const Slot& slot = devices_[i];
    if (slot.plugged && slot.device->InterfacePath() == path) {
      const NativeHandle handle = nextHandle_++;
      handles_[handle] = {i, slot.plugGeneration, slot.device->Generation()};
      ++opens_;
      return handle;
    }
  }
  return kInvalidHandle;
}

void SimBus::Close(NativeHandle handle) {
  handles_.erase(handle);
}

IoResult SimBus::Control(NativeHandle handle, std::uint32_t code,
                         std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return {};  // not a handle of ours: as an invalid handle would
  Slot& slot = devices_[it->second.slot];
  SimDevice& device = *slot.device;
  // A handle opened before the device left the bus or re-enumerated reaches nothing.
  if (!slot.plugged || slot.plugGeneration != it->second.plugGeneration ||
      device.Generation() != it->second.identityGeneration)
    return {};

  clock_.Advance(latency_);
  LoggedRequest entry;
  entry.device = it->second.slot;
  entry.code = code;
  entry.record.assign(input.begin(), input.end());
  entry.at = clock_.Now();
  const bool admitted = device.AdmitRequest();
  const bool ok = Answer(device, admitted, code, input, output, entry);
  entry.ok = ok;
  if (device.ShouldLeaveBus()) Unplug(device);
  log_.Add(std::move(entry));
  return {ok, ok ? static_cast<std::uint32_t>(output.size()) : 0};
}

bool SimBus::Answer(SimDevice& device, bool admitted, std::uint32_t code,
                    std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                    LoggedRequest& entry) {
  const bool audio = device.GetIdentity().presentation == Identity::Presentation::kAudio;
  // Each presentation is served by its own driver, which knows only its own requests.
  const auto request = audio ? drivers::DecodeAudioRequest(code, input, output, entry.refusal)
                             : drivers::DecodeVendorRequest(code, input, output, entry.refusal);
  if (!request) return false;
  RecordDecoded(entry, *request);
  // An injected fault fails the request after the driver read it, before the device acts.
  if (!admitted) {
    entry.refusal = "failed by fault injection";
    return false;
  }

  bool ok = false;
  switch (request->kind) {
    case drivers::DecodedRequest::Kind::kPropertySupport:
      ok = true;
      break;
    case drivers::DecodedRequest::Kind::kGetDescriptor: {
      // The device has one device descriptor (type 1, index 0); any other is stalled. Its
      // wIndex is not looked at, as a device does for this descriptor.
      constexpr std::uint16_t kDeviceDescriptor = 0x0100;
      if (request->value != kDeviceDescriptor) {
        entry.refusal = "device: no such descriptor";
        break;
      }
      const auto descriptor = device.DeviceDescriptor();
      const std::size_t n = std::min(output.size(), descriptor.size());
      std::copy_n(descriptor.begin(), n, output.begin());
      ok = true;
      break;
    }
    case drivers::DecodedRequest::Kind::kControl:
      ok = device.Chip().Control(*request, output);
      break;
  }
  if (request->deviceToHost && ok)
    entry.data.assign(output.begin(), output.begin() + request->length);
  return ok;
}

std::optional<std::vector<std::string>> SimBus::PresentPaths(const Guid& interfaceClass) {
  std::vector<std::string> paths;
  for (const Slot& slot : devices_) {
    if (slot.plugged && slot.device->InterfaceClass() == interfaceClass)
      paths.push_back(slot.device->InterfacePath());
  }
  return paths;
}

}  // namespace qv::sim
