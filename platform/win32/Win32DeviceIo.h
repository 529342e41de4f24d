#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/DeviceIo.h"

namespace qv {

// Device I/O on the real Windows calls: CreateFileA, DeviceIoControl and CloseHandle. Requests are
// overlapped with a time limit of a second: a request its device does not answer is cancelled
// (CancelIoEx) and fails. A failed request is told as gone when the driver answers that its
// device was removed, or when the device's interface has left the list. Requests on different
// handles may come from several threads.
class Win32DeviceIo final : public DeviceIo {
 public:
  NativeHandle Open(const char* path) override;
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override;
  void Close(NativeHandle handle) override;

 private:
  // A request that failed (or ran out of its time): gone when the driver answered that its device
  // was removed, or when the device's interface has left the list.
  IoResult Failed(NativeHandle handle, bool removedAnswer);
  // Whether the interface the handle was opened on has left the list of present interfaces.
  bool InterfaceLeft(NativeHandle handle);

  std::mutex mutex_;
  std::map<NativeHandle, std::string> paths_;  // each open handle's interface path
};

}  // namespace qv
