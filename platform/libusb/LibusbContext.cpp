#include "platform/libusb/LibusbContext.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/libusb/UsbIdClasses.h"

namespace qv::usb {

std::string InterfacePath(const std::string& idText, std::uint8_t bus,
                          const std::vector<std::uint8_t>& ports) {
  std::string place = std::to_string(bus);
  for (std::size_t i = 0; i < ports.size(); ++i)
    place += (i ? "." : "-") + std::to_string(ports[i]);
  return "usb#" + idText + "#" + place;
}

std::vector<std::uint8_t> PlaceOf(libusb_device* device) {
  // USB 3 allows seven tiers of hubs below the root.
  std::uint8_t ports[7];
  const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
  if (depth < 0) return {};
  std::vector<std::uint8_t> place(static_cast<std::size_t>(depth) + 1);
  place[0] = libusb_get_bus_number(device);
  std::copy_n(ports, depth, place.begin() + 1);
  return place;
}

LibusbContext::LibusbContext() {
  if (const int result = libusb_init(&context_); result != LIBUSB_SUCCESS) {
    context_ = nullptr;
    error_ = std::string("libusb could not start: ") + libusb_strerror(result);
  }
}

LibusbContext::~LibusbContext() {
  if (context_) libusb_exit(context_);
}

std::vector<PresentUsbDevice> LibusbContext::PresentDevices() const {
  std::vector<PresentUsbDevice> present;
  if (!context_) return present;
  libusb_device** raw = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &raw);
  if (count < 0) return present;
  // The list and its references to every device go back to libusb however this ends.
  const std::unique_ptr<libusb_device*, void (*)(libusb_device**)> list(
      raw, [](libusb_device** devices) { libusb_free_device_list(devices, 1); });
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device* device = list.get()[i];
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) continue;
    PresentUsbDevice entry;
    entry.place = PlaceOf(device);
    if (entry.place.empty()) continue;
    entry.device = std::shared_ptr<libusb_device>(libusb_ref_device(device), libusb_unref_device);
    entry.idText = IdText(descriptor.idVendor, descriptor.idProduct);
    const std::uint8_t bus = entry.place.front();
    entry.path = InterfacePath(entry.idText, bus, {entry.place.begin() + 1, entry.place.end()});
    entry.address = libusb_get_device_address(device);
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", unsigned{bus},
                  unsigned{entry.address});
    entry.node = node;
    entry.busAddress = std::string(node).substr(std::strlen("/dev/bus/usb/"));
    entry.busAddress[3] = ':';
    present.push_back(std::move(entry));
  }
  // By place on the bus, so that a listing reads the same each time.
  std::sort(present.begin(), present.end(),
            [](const PresentUsbDevice& a, const PresentUsbDevice& b) { return a.place < b.place; });
  return present;
}

std::string LibusbContext::SerialNumber(const PresentUsbDevice& device) const {
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(device.device.get(), &descriptor) != LIBUSB_SUCCESS ||
      descriptor.iSerialNumber == 0)
    return {};
  libusb_device_handle* raw = nullptr;
  if (libusb_open(device.device.get(), &raw) != LIBUSB_SUCCESS) return {};
  const std::unique_ptr<libusb_device_handle, void (*)(libusb_device_handle*)> handle(raw,
                                                                                      libusb_close);
  unsigned char text[256];
  const int length =
      libusb_get_string_descriptor_ascii(handle.get(), descriptor.iSerialNumber, text, sizeof text);
  if (length <= 0) return {};
  return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)};
}

}  // namespace qv::usb
