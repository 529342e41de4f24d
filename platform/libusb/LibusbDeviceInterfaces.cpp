#include "platform/libusb/LibusbDeviceInterfaces.h"

#include <algorithm>

namespace qv::usb {

std::optional<std::vector<std::string>> LibusbDeviceInterfaces::PresentPaths(
    const Guid& interfaceClass) {
  if (!context_.Ready()) return std::nullopt;
  const std::vector<std::string>& ids = classes_.IdsOf(interfaceClass);
  std::vector<std::string> paths;
  for (const PresentUsbDevice& device : context_.PresentDevices()) {
    if (std::find(ids.begin(), ids.end(), device.idText) != ids.end()) paths.push_back(device.path);
  }
  return paths;
}

}  // namespace qv::usb
