#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/DeviceIo.h"
#include "platform/libusb/LibusbContext.h"
#include "platform/libusb/UsbIdClasses.h"

struct libusb_device_handle;

namespace qv::usb {

// The two Windows drivers' requests, carried out as USB control transfers through usbfs. The
// records the host built are read as the drivers read them (no second encoder): a property
// record of the audio path becomes the vendor request 0xC3 (GET) or 0x43 (SET), a request record
// of the vendor path the control transfer it describes. Every transfer is on endpoint 0, which
// usbfs lets a program use without claiming an interface, so the kernel's audio driver keeps
// the device (and its playback) the whole time.
class LibusbDeviceIo final : public DeviceIo {
 public:
  LibusbDeviceIo(const LibusbContext& context, const UsbIdClasses& classes)
      : context_(context), classes_(classes) {}

  NativeHandle Open(const char* path) override;
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override;
  void Close(NativeHandle handle) override;

  // Why the last open of the path failed although the device was there (no permission, for one),
  // as a sentence for the user; empty when it opened or was not there.
  std::string OpenProblem(std::string_view path) const;

 private:
  struct OpenDevice {
    std::shared_ptr<libusb_device_handle> handle;
    bool audio = false;  // reached through the audio driver's requests, else the vendor driver's
  };

  std::shared_ptr<const OpenDevice> Find(NativeHandle handle) const;

  const LibusbContext& context_;
  const UsbIdClasses& classes_;
  // Devices updated side by side share this port: the tables are locked, transfers are not.
  mutable std::mutex mutex_;
  std::map<NativeHandle, std::shared_ptr<const OpenDevice>> open_;
  std::map<std::string, std::string, std::less<>> problems_;
  NativeHandle nextHandle_ = 1;
};

}  // namespace qv::usb
