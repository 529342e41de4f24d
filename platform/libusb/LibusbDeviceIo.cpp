#include "platform/libusb/LibusbDeviceIo.h"

#include <libusb.h>

#include <vector>

#include "platform/DriverRecords.h"

namespace qv::usb {
namespace {

// A control transfer completes in microseconds, and the flash's slowest step is waited for by
// polling, never inside a transfer: a second is far beyond any answer of a working device, and
// short enough that a hung one cannot hang the tool.
constexpr unsigned kTransferTimeoutMs = 1000;

// The vendor requests of the request table go to "other": 0xC3 device-to-host, 0x43 back.
constexpr std::uint8_t kVendorIn = 0xC3, kVendorOut = 0x43;

std::string OpenFailure(int error, const PresentUsbDevice& device) {
  if (error == LIBUSB_ERROR_ACCESS)
    return "no permission to open " + device.node + " (" + device.idText +
           "): requests need read and write access to the device node. Install the udev rules "
           "(sudo scripts/install-udev-rules), then unplug the device and plug it in again";
  return "cannot open " + device.node + " (" + device.idText + "): " + libusb_strerror(error);
}

// One control transfer of the decoded request. A stall, a timeout, a device that left (told as
// gone), or an answer shorter than asked for all fail it.
IoResult Transfer(libusb_device_handle* handle, const drivers::DecodedRequest& request,
                  std::span<std::uint8_t> output) {
  if (request.length > 0xFFFF) return {};  // wLength has 16 bits
  const std::uint8_t requestType =
      request.requestType.value_or(request.deviceToHost ? kVendorIn : kVendorOut);
  std::vector<std::uint8_t> sent;
  unsigned char* data = nullptr;
  if (request.deviceToHost) {
    data = output.data();
  } else {
    sent.assign(request.outData.begin(), request.outData.end());
    data = sent.data();
  }
  const int done =
      libusb_control_transfer(handle, requestType, request.request, request.value, request.index,
                              data, static_cast<std::uint16_t>(request.length), kTransferTimeoutMs);
  if (done == LIBUSB_ERROR_NO_DEVICE) return {.gone = true};
  if (done < 0 || static_cast<std::uint32_t>(done) != request.length) return {};
  return {true, static_cast<std::uint32_t>(done)};
}

}  // namespace

NativeHandle LibusbDeviceIo::Open(const char* path) {
  for (const PresentUsbDevice& device : context_.PresentDevices()) {
    if (device.path != path) continue;
    const bool audio = classes_.IsAudio(device.idText);
    if (!audio && !classes_.IsUpdate(device.idText)) break;  // not one of ours: never touched
    libusb_device_handle* raw = nullptr;
    const int result = libusb_open(device.device.get(), &raw);
    // Owned at once, so that nothing below can lose it.
    std::shared_ptr<libusb_device_handle> owned =
        result == LIBUSB_SUCCESS ? std::shared_ptr<libusb_device_handle>(raw, libusb_close)
                                 : nullptr;
    std::lock_guard lock(mutex_);
    if (result != LIBUSB_SUCCESS) {
      problems_.insert_or_assign(device.path, OpenFailure(result, device));
      return kInvalidHandle;
    }
    problems_.erase(device.path);
    auto open = std::make_shared<OpenDevice>();
    open->handle = std::move(owned);
    open->audio = audio;
    const NativeHandle handle = nextHandle_++;
    open_.emplace(handle, std::move(open));
    return handle;
  }
  std::lock_guard lock(mutex_);
  if (auto it = problems_.find(std::string_view(path)); it != problems_.end()) problems_.erase(it);
  return kInvalidHandle;
}

std::shared_ptr<const LibusbDeviceIo::OpenDevice> LibusbDeviceIo::Find(NativeHandle handle) const {
  std::lock_guard lock(mutex_);
  const auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second;
}

IoResult LibusbDeviceIo::Control(NativeHandle handle, std::uint32_t code,
                                 std::span<const std::uint8_t> input,
                                 std::span<std::uint8_t> output) {
  const auto device = Find(handle);
  if (!device) return {};
  // Each class of device is served by its own driver, which knows only its own requests.
  std::string refusal;
  const auto request = device->audio ? drivers::DecodeAudioRequest(code, input, output, refusal)
                                     : drivers::DecodeVendorRequest(code, input, output, refusal);
  if (!request) return {};
  // The audio driver supports the vendor property set of every device it holds, and this one is
  // open: the query needs no transfer.
  if (request->kind == drivers::DecodedRequest::Kind::kPropertySupport) return {true, 0};
  return Transfer(device->handle.get(), *request, output);
}

void LibusbDeviceIo::Close(NativeHandle handle) {
  std::lock_guard lock(mutex_);
  open_.erase(handle);
}

std::string LibusbDeviceIo::OpenProblem(std::string_view path) const {
  std::lock_guard lock(mutex_);
  const auto it = problems_.find(path);
  return it == problems_.end() ? std::string() : it->second;
}

}  // namespace qv::usb
