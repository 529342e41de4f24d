#include "transport/QuorvexUsb.h"

#include <algorithm>

#include "transport/Protocol.h"

namespace qv {
namespace {

// Copies text into a fixed zero-terminated field; refuses what does not fit.
template <std::size_t N>
bool CopyToField(std::array<char, N>& field, std::string_view text) {
  if (text.size() >= N) return false;
  std::fill(field.begin(), field.end(), '\0');
  std::copy(text.begin(), text.end(), field.begin());
  return true;
}

}  // namespace

QuorvexUsb::QuorvexUsb(DeviceIo& io, DeviceInterfaces& interfaces)
    : io_(io), interfaces_(interfaces) {
  CopyToField(MatchId, protocol::kUpdateMatchE7B2);
}

QuorvexUsb::~QuorvexUsb() {
  Close();
}

bool QuorvexUsb::SetMatchId(std::string_view text) {
  return CopyToField(MatchId, text);
}

bool QuorvexUsb::SetDevicePath(std::string_view path) {
  return CopyToField(DevicePath, path);
}

bool QuorvexUsb::Open() {
  Close();
  if (gate_ && !gate_(DevicePath.data())) return false;
  // A failed open leaves the connection closed, so later requests fail without reaching a device.
  DeviceHandle = qv::DeviceHandle(io_, io_.Open(DevicePath.data()));
  if (DeviceHandle.Valid()) gone_ = false;
  return DeviceHandle.Valid();
}

void QuorvexUsb::Close() {
  DeviceHandle.Reset();
}

bool QuorvexUsb::ControlRequest(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                std::uint16_t index, std::span<std::uint8_t> buffer) {
  if (!DeviceHandle.Valid()) return false;
  const SetupPacket setup{requestType, request, value, index};
  IoResult result;
  if (UseAudioDriver) {
    const auto record = EncodeVendorPropertyRecord(setup, buffer);
    result = io_.Control(DeviceHandle.Get(), protocol::kIoctlKsProperty, record, buffer);
  } else {
    const auto record = EncodeControlRequestRecord(setup);
    result = io_.Control(DeviceHandle.Get(), VendorIoctlFor(requestType), record, buffer);
  }
  gone_ = gone_ || result.gone;
  if (!result.ok) return false;
  // Both drivers count the data stage alone in what they return (the record travels in the input
  // buffer). An answer shorter than asked for left the rest of the buffer as it was: taken whole,
  // an old value would pass for the device's.
  return !protocol::IsDeviceToHost(requestType) || result.bytesReturned >= buffer.size();
}

const Guid& QuorvexUsb::InterfaceClass() const {
  return UseAudioDriver ? protocol::kAudioInterfaceClass : protocol::kUsbDeviceInterfaceClass;
}

bool QuorvexUsb::PathMatches(std::string_view path) const {
  // A path that cannot be stored whole cannot be opened either.
  return path.size() < kDevicePathSize && path.find(MatchId.data()) != std::string_view::npos;
}

bool QuorvexUsb::FindDevice() {
  const auto paths = interfaces_.PresentPaths(InterfaceClass());
  if (!paths) return false;
  bool result = false;
  // Every interface is examined: when several match, the last one enumerated wins.
  for (const auto& path : *paths) {
    if (!PathMatches(path)) continue;
    CopyToField(DevicePath, path);
    DeviceFound = 1;
    result = ProbeDevice();
  }
  return result;
}

bool QuorvexUsb::IsDevicePresent() {
  const auto paths = interfaces_.PresentPaths(InterfaceClass());
  const bool present =
      paths && std::any_of(paths->begin(), paths->end(),
                           [this](const std::string& path) { return PathMatches(path); });
  DeviceFound = present ? 1 : 0;
  return present;
}

bool QuorvexUsb::ProbeDevice() {
  const qv::DeviceHandle probe(io_, io_.Open(DevicePath.data()));
  if (!probe.Valid()) return false;
  if (UseAudioDriver) {
    const auto query = EncodePropertySupportQuery();
    return io_.Control(probe.Get(), protocol::kIoctlKsProperty, query, {}).ok;
  }
  // GET_DESCRIPTOR of the device descriptor; the answer is not examined.
  constexpr std::uint16_t kDescriptorLength = 18;
  const SetupPacket getDescriptor{0x80, 0x06, 0x0100, 0x0001};
  const auto record = EncodeControlRequestRecord(getDescriptor, kDescriptorLength);
  std::array<std::uint8_t, kDescriptorLength> descriptor{};
  return io_.Control(probe.Get(), protocol::kIoctlVendorIn, record, descriptor).ok;
}

}  // namespace qv
