#include "app/DeviceModels.h"
#include "cli/DevicePorts.h"
#include "platform/SteadyClock.h"
#include "platform/libusb/LibusbDeviceInterfaces.h"
#include "platform/libusb/LibusbDeviceIo.h"
#include "platform/libusb/LibusbHotplug.h"
#include "transport/Protocol.h"

namespace qv::cli {
namespace {

// The ids the Windows drivers would serve: the model table's through the audio driver, the two
// firmware-update ids through the vendor driver.
usb::UsbIdClasses KnownIds() {
  usb::UsbIdClasses classes;
  for (const DeviceModel& model : DeviceModelTable())
    classes.audio.emplace_back(FieldText(model.MatchText));
  classes.update = {protocol::kUpdateMatchE6A4, protocol::kUpdateMatchE7B2};
  return classes;
}

class LibusbDevicePorts final : public DevicePorts {
 public:
  DeviceIo& Io() override { return io_; }
  DeviceInterfaces& Interfaces() override { return interfaces_; }
  Clock& DeviceClock() override { return clock_; }
  std::string OpenProblem(std::string_view path) override { return io_.OpenProblem(path); }
  const usb::LibusbContext& Context() const { return context_; }
  UnitIdentity IdentityOf(std::string_view path) override {
    for (const usb::PresentUsbDevice& device : context_.PresentDevices())
      if (device.path == path)
        return {.serial = context_.SerialNumber(device), .address = device.busAddress};
    return {};
  }
  ReportedDescriptors DescriptorsOf(std::string_view path) override {
    for (const usb::PresentUsbDevice& device : context_.PresentDevices())
      if (device.path == path) return context_.Descriptors(device);
    return UnreadDescriptors("the device is gone");
  }

  bool WaitForChange(std::chrono::milliseconds most,
                     const std::vector<std::string>& inUse) override {
    // libusb's hot-plug events where it has them, taken only once something waits for them.
    if (!hotplug_) {
      hotplug_ = std::make_unique<usb::LibusbHotplug>(context_);
      if (hotplug_->Available()) interfaces_.WatchArrivals(*hotplug_);
    }
    if (hotplug_->Available()) return hotplug_->Wait(most);
    return DevicePorts::WaitForChange(most, inUse);
  }

 private:
  usb::LibusbContext context_;
  usb::UsbIdClasses classes_ = KnownIds();
  usb::LibusbDeviceIo io_{context_, classes_};
  usb::LibusbDeviceInterfaces interfaces_{context_, classes_};
  SteadyClock clock_;
  std::unique_ptr<usb::LibusbHotplug> hotplug_;  // ends before the context it uses
};

}  // namespace

PortsResult RealPorts() {
  auto ports = std::make_unique<LibusbDevicePorts>();
  if (!ports->Context().Ready()) return {nullptr, ports->Context().Error(), "libusb"};
  return {std::move(ports), {}, "libusb"};
}

}  // namespace qv::cli
