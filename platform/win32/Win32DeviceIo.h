#pragma once

#include "platform/DeviceIo.h"

namespace qv {

// Device I/O on the real Windows calls: synchronous CreateFileA, DeviceIoControl, CloseHandle.
class Win32DeviceIo final : public DeviceIo {
 public:
  NativeHandle Open(const char* path) override;
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override;
  void Close(NativeHandle handle) override;
};

}  // namespace qv
