#include "platform/libusb/LibusbContext.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/libusb/UsbIdClasses.h"

namespace qv::usb {
namespace {

using OpenedDevice = std::unique_ptr<libusb_device_handle, void (*)(libusb_device_handle*)>;

// A handle of the device for asking its descriptors, closed when it goes; null when it could not
// be opened, with libusb's result in `result`.
OpenedDevice OpenForDescriptors(const PresentUsbDevice& device, int& result) {
  libusb_device_handle* raw = nullptr;
  result = libusb_open(device.device.get(), &raw);
  return {result == LIBUSB_SUCCESS ? raw : nullptr, [](libusb_device_handle* handle) {
            if (handle) libusb_close(handle);
          }};
}

}  // namespace

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
  int opened = 0;
  const OpenedDevice handle = OpenForDescriptors(device, opened);
  if (!handle) return {};
  unsigned char text[256];
  const int length =
      libusb_get_string_descriptor_ascii(handle.get(), descriptor.iSerialNumber, text, sizeof text);
  if (length <= 0) return {};
  return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)};
}

ReportedDescriptors LibusbContext::Descriptors(const PresentUsbDevice& device) const {
  libusb_device_descriptor descriptor{};
  if (const int result = libusb_get_device_descriptor(device.device.get(), &descriptor);
      result != LIBUSB_SUCCESS)
    return UnreadDescriptors(std::string("libusb gave no device descriptor: ") +
                             libusb_strerror(result));
  ReportedDescriptors reported;
  reported.vendorId = descriptor.idVendor;
  reported.productId = descriptor.idProduct;
  int opened = 0;
  const OpenedDevice handle = OpenForDescriptors(device, opened);
  // The largest descriptor its one-byte length allows.
  unsigned char bytes[255];
  std::string noLanguage;
  std::uint16_t language = 0;
  if (!handle) {
    noLanguage = std::string("the device could not be opened: ") + libusb_strerror(opened);
  } else if (const int n = libusb_get_string_descriptor(handle.get(), 0, 0, bytes, sizeof bytes);
             n < 4 || bytes[1] != LIBUSB_DT_STRING) {
    noLanguage = n < 0 ? std::string("the device did not list its languages: ") + libusb_strerror(n)
                       : "the device lists no language for its strings";
  } else {
    language = static_cast<std::uint16_t>(bytes[2] | (bytes[3] << 8));
  }
  const std::uint8_t indices[] = {descriptor.iManufacturer, descriptor.iProduct,
                                  descriptor.iSerialNumber};
  for (std::size_t i = 0; i < reported.strings.size(); ++i) {
    DescriptorString& string = reported.strings[i];
    if (indices[i] == 0) {
      string.absent = true;
    } else if (!noLanguage.empty()) {
      string.why = noLanguage;
    } else if (const int n = libusb_get_string_descriptor(handle.get(), indices[i], language, bytes,
                                                          sizeof bytes);
               n < 0) {
      string.why = std::string("the device did not give it: ") + libusb_strerror(n);
    } else {
      string.text = DecodeStringDescriptor({bytes, static_cast<std::size_t>(n)});
      if (!string.text) string.why = "the device's answer is no string descriptor";
    }
  }
  return reported;
}

}  // namespace qv::usb
