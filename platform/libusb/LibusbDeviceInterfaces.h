#pragma once

#include "platform/DeviceInterfaces.h"
#include "platform/libusb/LibusbContext.h"
#include "platform/libusb/UsbIdClasses.h"

namespace qv::usb {

// The interface classes of the Windows drivers, played over libusb's device list: a device of
// the model table is listed in the audio class, a firmware-update device in the USB device class.
class LibusbDeviceInterfaces final : public DeviceInterfaces {
 public:
  LibusbDeviceInterfaces(const LibusbContext& context, const UsbIdClasses& classes)
      : context_(context), classes_(classes) {}

  std::optional<std::vector<std::string>> PresentPaths(const Guid& interfaceClass) override;

 private:
  const LibusbContext& context_;
  const UsbIdClasses& classes_;
};

}  // namespace qv::usb
