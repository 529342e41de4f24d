#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/UsbDescriptors.h"

struct libusb_context;
struct libusb_device;

namespace qv::usb {

// A present USB device as this port names it.
struct PresentUsbDevice {
  std::shared_ptr<libusb_device> device;  // holds a reference of libusb's own
  std::string idText;                     // "vid_e5d3&pid_7a01"
  // Its interface path: the ids and its place on the bus as the kernel names it ("1-1.4": bus 1,
  // port 4 of the hub on port 1), so two devices of one model have two paths:
  // "usb#vid_e5d3&pid_7a01#1-1.4".
  std::string path;
  std::string node;                 // its usbfs device node, "/dev/bus/usb/001/005"
  std::string busAddress;           // its bus and device number as lsusb names it, "001:005"
  std::vector<std::uint8_t> place;  // bus number, then the port numbers from the root down
  std::uint8_t address = 0;         // on its bus: a new one at each enumeration
};

// A device's place on the bus: its bus number, then the port numbers from the root down; empty
// when libusb cannot tell.
std::vector<std::uint8_t> PlaceOf(libusb_device* device);

// The interface path of a device with these ids at this place on the bus.
std::string InterfacePath(const std::string& idText, std::uint8_t bus,
                          const std::vector<std::uint8_t>& ports);

// One libusb session for the tool's run.
class LibusbContext {
 public:
  LibusbContext();
  ~LibusbContext();
  LibusbContext(const LibusbContext&) = delete;
  LibusbContext& operator=(const LibusbContext&) = delete;

  // Whether libusb started; when not, Error() says why and nothing is present.
  bool Ready() const { return context_ != nullptr; }
  const std::string& Error() const { return error_; }
  libusb_context* Get() const { return context_; }

  // Every USB device present now, by bus and ports. Reads the descriptors the kernel keeps; sends
  // nothing to any device.
  std::vector<PresentUsbDevice> PresentDevices() const;
  // The device's serial string, asked of the device (a standard request that the kernel lets
  // through without claiming an interface); empty when it has none or did not give it.
  std::string SerialNumber(const PresentUsbDevice& device) const;
  // Its ids as the kernel keeps its device descriptor, and its three strings asked of the device
  // in the first language it lists, each decoded from UTF-16.
  ReportedDescriptors Descriptors(const PresentUsbDevice& device) const;

 private:
  libusb_context* context_ = nullptr;
  std::string error_;
};

}  // namespace qv::usb
