#pragma once

#include <cstdint>
#include <span>

namespace qv {

// An opaque device handle as the operating system hands it out. 0 is "no handle" and
// kInvalidHandle is what a failed open returns, mirroring null and INVALID_HANDLE_VALUE.
using NativeHandle = std::uintptr_t;
inline constexpr NativeHandle kNoHandle = 0;
inline constexpr NativeHandle kInvalidHandle = ~NativeHandle{0};

struct IoResult {
  bool ok = false;
  std::uint32_t bytesReturned = 0;
  // The call failed because the device is no longer there (unplugged, or re-enumerated as
  // another device): no later request on this handle can reach it.
  bool gone = false;
};

// File and device I/O, shaped after CreateFileA / DeviceIoControl / CloseHandle so that the
// Windows implementation is a thin wrapper and a simulated device sees exactly what a driver
// would see.
class DeviceIo {
 public:
  virtual ~DeviceIo() = default;

  // Opens a device interface path for read and write access, shared for read and write, existing
  // devices only. Returns kInvalidHandle on failure.
  virtual NativeHandle Open(const char* path) = 0;

  // One I/O control call, returning when it completed or failed; a request its device does not
  // answer within the port's time limit fails. The output buffer is passed for both directions:
  // for host-to-device requests the driver reads the data stage from it.
  virtual IoResult Control(NativeHandle handle, std::uint32_t code,
                           std::span<const std::uint8_t> input, std::span<std::uint8_t> output) = 0;

  virtual void Close(NativeHandle handle) = 0;
};

}  // namespace qv
