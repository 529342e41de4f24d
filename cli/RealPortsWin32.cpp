#include "cli/DevicePorts.h"
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

 private:
  Win32DeviceIo io_;
  Win32DeviceInterfaces interfaces_;
  Win32Clock clock_;  // 1 ms timer resolution while the tool runs
};

}  // namespace

PortsResult RealPorts() {
  return {std::make_unique<Win32DevicePorts>(), {}};
}

}  // namespace qv::cli
