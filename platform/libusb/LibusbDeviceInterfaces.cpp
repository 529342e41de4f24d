#include "platform/libusb/LibusbDeviceInterfaces.h"

#include <algorithm>

namespace qv::usb {

std::optional<std::vector<std::string>> LibusbDeviceInterfaces::PresentPaths(
    const Guid& interfaceClass) {
  if (!context_.Ready()) return std::nullopt;
  const std::vector<std::string>& ids = classes_.IdsOf(interfaceClass);
  std::vector<std::string> paths;
  for (const PresentUsbDevice& device : context_.PresentDevices()) {
    if (std::find(ids.begin(), ids.end(), device.idText) == ids.end()) continue;
    LibusbHotplug* const hotplug = hotplug_;
    const std::optional<std::string> arrival =
        hotplug ? hotplug->ArrivalOf(device.place, device.address)
                : "address " + std::to_string(device.address);
    if (!arrival) continue;
    paths.push_back(device.path);
    std::lock_guard lock(mutex_);
    arrival_[device.path] = *arrival;
  }
  return paths;
}

std::string LibusbDeviceInterfaces::Arrival(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto it = arrival_.find(path);
  return it == arrival_.end() ? std::string() : it->second;
}

}  // namespace qv::usb
