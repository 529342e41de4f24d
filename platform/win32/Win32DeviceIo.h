#pragma once

#include "platform/DeviceIo.h"

namespace qv {

// Device I/O on the real Windows calls: CreateFileA, DeviceIoControl and CloseHandle. Requests are
// overlapped with a time limit of a second: a request its device does not answer is cancelled
// (CancelIoEx) and fails.
class Win32DeviceIo final : public DeviceIo {
 public:
  NativeHandle Open(const char* path) override;
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override;
  void Close(NativeHandle handle) override;
};

}  // namespace qv
