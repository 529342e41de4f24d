#include "cli/DevicePorts.h"
#include "cli/Station.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32DeviceInterfaces.h"
#include "platform/win32/Win32DeviceIo.h"

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
