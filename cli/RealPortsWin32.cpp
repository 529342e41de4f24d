#include "cli/DevicePorts.h"
#include "cli/Station.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32DeviceInterfaces.h"
#include "platform/win32/Win32DeviceIo.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

class Win32DevicePorts final : public DevicePorts {
 public:
  DeviceIo& Io() override { return io_; }
  DeviceInterfaces& Interfaces() override { return interfaces_; }
  Clock& DeviceClock() override { return clock_; }
  // A USB device with a serial number gets it as its instance id, the piece of its interface path
  // after the ids; one without gets an id the system makes up, which holds '&'. An interface of a
  // composite device has its parent's made-up id: its serial is not known from the path.
  UnitIdentity IdentityOf(std::string_view path) override {
    const std::string instance = PortOfPath(std::string(path));
    if (instance == path || instance.find('&') != std::string::npos) return {};
    return {.serial = instance, .address = {}};
  }
  // The ids are those of the path the system lists for it now. Of the strings, the system gives
  // only the serial number, as the instance id above; its manufacturer and device texts are its
  // driver package's, not the device's, so they are not shown as the device's.
  ReportedDescriptors DescriptorsOf(std::string_view path) override {
    ReportedDescriptors reported =
        UnreadDescriptors("the Windows drivers do not give this string to the tool", true);
    const std::string lower = LowerAscii(path);
    const auto id = [&lower](std::string_view key) -> std::optional<std::uint16_t> {
      const std::size_t at = lower.find(key);
      if (at == std::string::npos || lower.size() < at + key.size() + 4) return std::nullopt;
      const auto value =
          ParseUnsigned(std::string_view(lower).substr(at + key.size(), 4), 16, 0xFFFF);
      if (!value) return std::nullopt;
      return static_cast<std::uint16_t>(*value);
    };
    const std::optional<std::uint16_t> vendor = id("vid_"), product = id("&pid_");
    reported.idsUnavailable = false;
    if (vendor && product) {
      reported.vendorId = vendor;
      reported.productId = product;
      reported.idsWhy.clear();
    } else {
      reported.idsWhy = "the device's path holds no ids";
    }
    DescriptorString& serial = reported.strings[2];
    if (std::string instance = IdentityOf(path).serial; !instance.empty()) {
      serial.text = std::move(instance);
      serial.unavailable = false;
      serial.why.clear();
    } else {
      serial.why = "Windows names it only for a device of one function with a serial number";
    }
    return reported;
  }

 private:
  Win32DeviceIo io_;
  Win32DeviceInterfaces interfaces_;
  Win32Clock clock_;  // 1 ms timer resolution while the tool runs
};

}  // namespace

PortsResult RealPorts() {
  return {std::make_unique<Win32DevicePorts>(), {}, "setupapi"};
}

}  // namespace qv::cli
