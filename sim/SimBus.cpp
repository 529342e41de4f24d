#include "sim/SimBus.h"

#include <cstdio>

#include <algorithm>
#include <thread>

namespace qv::sim {

namespace {

// A handle names its slot in the upper half, so that a device's thread finds its handles without
// looking at any other device's.
static_assert(sizeof(NativeHandle) >= 8, "handles carry their slot in the upper 32 bits");
constexpr int kSlotShift = 32;

NativeHandle MakeHandle(std::size_t slot, std::uint32_t serial) {
  return (static_cast<NativeHandle>(slot + 1) << kSlotShift) | serial;
}

}  // namespace

SimDevice& SimBus::Plug(Identity identity, std::optional<std::size_t> port) {
  // Instance ids differ per port as Windows' do, so two devices of one model have two paths.
  const std::string instance =
      "5&2c3d4e5f&0&" + std::to_string(port.value_or(slots_.size() + 1) + 1);
  std::chrono::microseconds now{0};
  for (const auto& slot : slots_) now = std::max(now, slot->device->Clock().Now());
  auto slot = std::make_unique<Slot>();
  slot->device = std::make_unique<SimDevice>(std::move(identity), instance, now);
  // Its own serial number, the same in every run of the same setup.
  char serial[16];
  std::snprintf(serial, sizeof serial, "QVSIM%06zu", slots_.size() + 1);
  slot->device->SetSerialNumber(serial);
  slot->device->Log().SetEnabled(logEnabled_);
  slots_.push_back(std::move(slot));
  PluggedIn(*slots_.back());
  return *slots_.back()->device;
}

std::size_t SimBus::SlotOf(const SimDevice& device) const {
  const auto it = std::find_if(slots_.begin(), slots_.end(),
                               [&](const auto& s) { return s->device.get() == &device; });
  return static_cast<std::size_t>(it - slots_.begin());
}

void SimBus::PluggedIn(Slot& slot) {
  slot.enumeration = ++enumerations_;
}

void SimBus::Unplug(SimDevice& device) {
  Slot& slot = *slots_[SlotOf(device)];
  if (!slot.plugged) return;
  slot.plugged = false;
  ++slot.plugGeneration;
}

void SimBus::Replug(SimDevice& device) {
  Slot& slot = *slots_[SlotOf(device)];
  if (slot.plugged.exchange(true)) return;
  slot.device->Enumerate(true);
  PluggedIn(slot);
}

bool SimBus::FollowSchedule(Slot& slot) {
  SimDevice& device = *slot.device;
  if (!device.HasSchedule()) return false;
  const bool in = device.ScheduledIn();
  // The clock may have passed a whole time out between two looks (a pause of the host, a wait
  // for devices): the pluggings in begun since tell that it was taken out and plugged in again.
  const std::size_t begun = device.ScheduledArrivals();
  const bool replugged = slot.scheduledArrivals && begun > *slot.scheduledArrivals;
  slot.scheduledArrivals = begun;
  bool changed = false;
  if (slot.plugged && (!in || replugged)) {
    // Unplugged, the device loses its power; a handle opened before reaches nothing.
    device.Chip().Isp().PowerOff();
    slot.plugged = false;
    ++slot.plugGeneration;
    changed = true;
  }
  if (in && !slot.plugged) {
    slot.plugged = true;
    device.Enumerate(true);
    PluggedIn(slot);
    device.Arrived();
    changed = true;
  }
  return changed;
}

void SimBus::FollowSchedules() {
  for (const auto& slot : slots_) FollowSchedule(*slot);
}

bool SimBus::AdvanceIdle(std::chrono::microseconds duration,
                         const std::vector<std::string>& inUse) {
  bool changed = false;
  for (const auto& slot : slots_) {
    const std::string path = slot->device->InterfacePath();
    // Devices that share a port's path wait while one of them is worked with.
    if (std::find(inUse.begin(), inUse.end(), path) != inUse.end()) continue;
    slot->device->Clock().Advance(duration);
    changed = FollowSchedule(*slot) || changed;
  }
  return changed;
}

bool SimBus::AdvanceIdleTo(std::chrono::microseconds now, const std::vector<std::string>& inUse) {
  bool changed = false;
  for (const auto& slot : slots_) {
    VirtualClock& clock = slot->device->Clock();
    if (std::find(inUse.begin(), inUse.end(), slot->device->InterfacePath()) != inUse.end())
      continue;
    if (clock.Now() < now) clock.Advance(now - clock.Now());
    changed = FollowSchedule(*slot) || changed;
  }
  return changed;
}

std::optional<std::chrono::microseconds> SimBus::NextScheduledChange(
    std::chrono::microseconds now, const std::vector<std::string>& inUse) const {
  std::optional<std::chrono::microseconds> next;
  for (const auto& slot : slots_) {
    const SimDevice& device = *slot->device;
    if (!device.HasSchedule() ||
        std::find(inUse.begin(), inUse.end(), device.InterfacePath()) != inUse.end())
      continue;
    const std::chrono::microseconds own = std::max(now, device.Clock().Now());
    // A change its own work carried it past is due at once.
    std::optional<std::chrono::microseconds> at = device.ScheduledIn() != slot->plugged
                                                      ? std::optional(now)
                                                      : device.NextScheduledChange(own);
    if (at && (!next || *at < *next)) next = at;
  }
  return next;
}

std::optional<std::chrono::microseconds> SimBus::TimeOf(std::string_view path) const {
  for (const auto& slot : slots_)
    if (slot->device->InterfacePath() == path) return slot->device->Clock().Now();
  return std::nullopt;
}

bool SimBus::IsPlugged(const SimDevice& device) const {
  return slots_[SlotOf(device)]->plugged;
}

SimDevice* SimBus::DeviceAt(std::string_view path) {
  for (const auto& slot : slots_)
    if (slot->plugged && slot->device->InterfacePath() == path) return slot->device.get();
  return nullptr;
}

const RequestLog& SimBus::Log() const {
  // One device's log is already in request order; tests read it after every request.
  if (slots_.size() == 1) return slots_.front()->device->Log();
  merged_.Clear();
  std::vector<const LoggedRequest*> all;
  for (const auto& slot : slots_)
    for (const LoggedRequest& entry : slot->device->Log().Entries()) all.push_back(&entry);
  std::sort(all.begin(), all.end(), [](const LoggedRequest* a, const LoggedRequest* b) {
    return a->sequence < b->sequence;
  });
  for (const LoggedRequest* entry : all) merged_.Add(*entry);
  return merged_;
}

void SimBus::ClearLog() {
  for (const auto& slot : slots_) slot->device->Log().Clear();
}

void SimBus::SetLogEnabled(bool enabled) {
  logEnabled_ = enabled;
  for (const auto& slot : slots_) slot->device->Log().SetEnabled(enabled);
}

std::size_t SimBus::OpenHandleCount() const {
  std::size_t count = 0;
  for (const auto& slot : slots_) count += slot->handles.size();
  return count;
}

std::size_t SimBus::OpenCount() const {
  std::size_t count = 0;
  for (const auto& slot : slots_) count += slot->opens;
  return count;
}

NativeHandle SimBus::Open(const char* path) {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    Slot& slot = *slots_[i];
    if (slot.plugged && slot.device->InterfacePath() == path) {
      const std::uint32_t serial = slot.nextHandle++;
      slot.handles[serial] = {slot.plugGeneration, slot.device->Generation()};
      ++slot.opens;
      return MakeHandle(i, serial);
    }
  }
  return kInvalidHandle;
}

void SimBus::Close(NativeHandle handle) {
  const std::size_t slot = (handle >> kSlotShift) - 1;
  if (handle == kNoHandle || handle == kInvalidHandle || slot >= slots_.size()) return;
  slots_[slot]->handles.erase(static_cast<std::uint32_t>(handle));
}

IoResult SimBus::Control(NativeHandle handle, std::uint32_t code,
                         std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  const std::size_t index = (handle >> kSlotShift) - 1;
  if (handle == kNoHandle || handle == kInvalidHandle || index >= slots_.size()) return {};
  Slot& slot = *slots_[index];
  const auto it = slot.handles.find(static_cast<std::uint32_t>(handle));
  if (it == slot.handles.end()) return {};  // not a handle of ours: as an invalid handle would
  SimDevice& device = *slot.device;
  FollowSchedule(slot);
  // A handle opened before the device left the bus or re-enumerated reaches nothing.
  if (!slot.plugged || slot.plugGeneration != it->second.plugGeneration ||
      device.Generation() != it->second.identityGeneration)
    return {.gone = true};

  if (realTime_) std::this_thread::sleep_for(latency_);
  device.Clock().Advance(latency_);
  LoggedRequest entry;
  entry.device = index;
  entry.code = code;
  entry.record.assign(input.begin(), input.end());
  entry.at = device.Clock().Now();
  entry.sequence = sequence_++;
  const bool admitted = device.AdmitRequest();
  const IoResult result = Answer(device, admitted, code, input, output, entry);
  entry.ok = result.ok;
  if (device.ShouldLeaveBus()) Unplug(device);
  device.Log().Add(std::move(entry));
  return result;
}

IoResult SimBus::Answer(SimDevice& device, bool admitted, std::uint32_t code,
                        std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                        LoggedRequest& entry) {
  const bool audio = device.GetIdentity().presentation == Identity::Presentation::kAudio;
  // Each presentation is served by its own driver, which knows only its own requests.
  const auto request = audio ? drivers::DecodeAudioRequest(code, input, output, entry.refusal)
                             : drivers::DecodeVendorRequest(code, input, output, entry.refusal);
  if (!request) return {};
  RecordDecoded(entry, *request);
  // An injected fault fails the request after the driver read it, before the device acts.
  if (!admitted) {
    entry.refusal = "failed by fault injection";
    return {};
  }
  // A short answer delivers less than the whole buffer: the rest keeps what the caller had there.
  const bool answerShort = request->deviceToHost && device.AnswersShort();
  const std::vector<std::uint8_t> before =
      answerShort ? std::vector<std::uint8_t>(output.begin(), output.end())
                  : std::vector<std::uint8_t>{};

  // Both drivers count the bytes of the data stage in the output buffer (the record travels in
  // the input buffer): a device-to-host answer reports what the device delivered, and a
  // host-to-device one the size of the buffer it was sent from.
  bool ok = false;
  std::size_t returned = output.size();
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
      returned = std::min(output.size(), descriptor.size());
      std::copy_n(descriptor.begin(), returned, output.begin());
      ok = true;
      break;
    }
    case drivers::DecodedRequest::Kind::kControl:
      ok = device.Chip().Control(*request, output);
      if (request->deviceToHost) returned = request->length;
      break;
  }
  if (!ok) return {};
  if (answerShort && returned > 0) {
    --returned;
    std::copy(before.begin() + static_cast<std::ptrdiff_t>(returned), before.end(),
              output.begin() + static_cast<std::ptrdiff_t>(returned));
  }
  if (request->deviceToHost)
    entry.data.assign(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(returned));
  return {true, static_cast<std::uint32_t>(returned)};
}

std::optional<std::vector<std::string>> SimBus::PresentPaths(const Guid& interfaceClass) {
  std::vector<std::string> paths;
  for (const auto& slot : slots_) {
    if (slot->plugged && slot->device->InterfaceClass() == interfaceClass)
      paths.push_back(slot->device->InterfacePath());
  }
  return paths;
}

std::string SimBus::Arrival(const std::string& path) {
  for (const auto& slot : slots_)
    if (slot->plugged && slot->device->InterfacePath() == path)
      return "enumeration " + std::to_string(slot->enumeration.load());
  return {};
}

}  // namespace qv::sim
