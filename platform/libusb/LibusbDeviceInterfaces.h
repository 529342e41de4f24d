#pragma once

#include <atomic>
#include <map>
#include <mutex>

#include "platform/DeviceInterfaces.h"
#include "platform/libusb/LibusbContext.h"
#include "platform/libusb/LibusbHotplug.h"
#include "platform/libusb/UsbIdClasses.h"

namespace qv::usb {

// The interface classes of the Windows drivers, played over libusb's device list: a device of
// the model table is listed in the audio class, a firmware-update device in the USB device class.
class LibusbDeviceInterfaces final : public DeviceInterfaces {
 public:
  LibusbDeviceInterfaces(const LibusbContext& context, const UsbIdClasses& classes)
      : context_(context), classes_(classes) {}

  std::optional<std::vector<std::string>> PresentPaths(const Guid& interfaceClass) override;
  // The device's bus address (a new one at each enumeration), and once hot-plug events are
  // watched, its arrival at its place: a replug between two listings is a new arrival.
  std::string Arrival(const std::string& path) override;

  // From now on arrivals are told by these events; a device listed before its arrival's event
  // is left out until it comes. Set once; the devices' threads may list meanwhile.
  void WatchArrivals(LibusbHotplug& hotplug) { hotplug_ = &hotplug; }

 private:
  const LibusbContext& context_;
  const UsbIdClasses& classes_;
  std::atomic<LibusbHotplug*> hotplug_{nullptr};
  std::mutex mutex_;                            // the listings of several threads
  std::map<std::string, std::string> arrival_;  // by path, as last listed
};

}  // namespace qv::usb
