#include "platform/win32/Win32DeviceIo.h"

#include <windows.h>

#include <limits>

#include "platform/win32/Win32DeviceInterfaces.h"

namespace qv {
namespace {

// A request completes in microseconds, and the flash's slowest step is waited for by polling,
// never inside a request: a second is far beyond any answer of a working device, and short enough
// that a device that never answers does not hold the window or the tool for long. The libusb port
// gives its transfers the same limit.
constexpr DWORD kRequestTimeoutMs = 1000;

HANDLE ToHandle(NativeHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

bool FitsDword(std::size_t size) {
  return size <= std::numeric_limits<DWORD>::max();
}

// What a driver answers on a handle whose device was removed. MinGW-w64's headers lack the name
// of the second (433, ERROR_NO_SUCH_DEVICE in the platform's list). A driver's
// STATUS_NO_SUCH_DEVICE arrives as ERROR_FILE_NOT_FOUND, and a handle whose device object is being
// deleted meets ERROR_ACCESS_DENIED: on a handle that opened, both mean the device left (an open's
// ERROR_FILE_NOT_FOUND means no such path, and never gets here).
constexpr DWORD kErrorNoSuchDevice = 433;
bool DeviceRemoved(DWORD error) {
  return error == ERROR_DEVICE_NOT_CONNECTED || error == kErrorNoSuchDevice ||
         error == ERROR_DEVICE_REMOVED || error == ERROR_DEV_NOT_EXIST ||
         error == ERROR_FILE_NOT_FOUND || error == ERROR_ACCESS_DENIED;
}

// The event one request waits on, closed on every way out.
class RequestEvent {
 public:
  RequestEvent() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  RequestEvent(const RequestEvent&) = delete;
  RequestEvent& operator=(const RequestEvent&) = delete;
  ~RequestEvent() {
    if (event_) CloseHandle(event_);
  }
  HANDLE Get() const { return event_; }

 private:
  HANDLE event_;
};

}  // namespace

NativeHandle Win32DeviceIo::Open(const char* path) {
  if (path == nullptr) return kInvalidHandle;
  // Overlapped, so that a request can be given up on when its device does not answer.
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return kInvalidHandle;
  const auto native = reinterpret_cast<NativeHandle>(handle);
  const std::lock_guard lock(mutex_);
  paths_[native] = path;
  return native;
}

bool Win32DeviceIo::InterfaceLeft(NativeHandle handle) {
  std::string path;
  {
    const std::lock_guard lock(mutex_);
    const auto it = paths_.find(handle);
    if (it == paths_.end()) return false;
    path = it->second;
  }
  // A path that names no interface, or a list that could not be read, tells nothing.
  return Win32DeviceInterfaces().Listed(path) == false;
}

IoResult Win32DeviceIo::Control(NativeHandle handle, std::uint32_t code,
                                std::span<const std::uint8_t> input,
                                std::span<std::uint8_t> output) {
  if (handle == kNoHandle || handle == kInvalidHandle) return {};
  // A size that does not fit the call's DWORD would be silently cut short.
  if (!FitsDword(input.size()) || !FitsDword(output.size())) return {};
  const RequestEvent event;
  if (!event.Get()) return {};
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.Get();
  DWORD returned = 0;
  // The input is only read; the API's non-const pointer is historical.
  BOOL ok = DeviceIoControl(
      ToHandle(handle), code, input.empty() ? nullptr : const_cast<std::uint8_t*>(input.data()),
      static_cast<DWORD>(input.size()), output.empty() ? nullptr : output.data(),
      static_cast<DWORD>(output.size()), &returned, &overlapped);
  if (!ok && GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(event.Get(), kRequestTimeoutMs) != WAIT_OBJECT_0) {
      // Given up on: the driver completes the request as cancelled (or, in a race, as done or
      // failed). Either way it is waited for, as the driver may write the buffers until it
      // completes, and the request fails.
      CancelIoEx(ToHandle(handle), &overlapped);
      const bool completed =
          GetOverlappedResult(ToHandle(handle), &overlapped, &returned, TRUE) != FALSE;
      return Failed(handle, !completed && DeviceRemoved(GetLastError()));
    }
    ok = GetOverlappedResult(ToHandle(handle), &overlapped, &returned, FALSE);
  }
  if (ok == FALSE) return Failed(handle, DeviceRemoved(GetLastError()));
  return {true, static_cast<std::uint32_t>(returned)};
}

IoResult Win32DeviceIo::Failed(NativeHandle handle, bool removedAnswer) {
  // Not every way a device leaves is answered as a removal: a request lost with it runs out of
  // its time, and a handle whose device object was deleted under it may meet an answer any
  // refused request gets. Its interface gone from the list tells those apart.
  return {.gone = removedAnswer || InterfaceLeft(handle)};
}

void Win32DeviceIo::Close(NativeHandle handle) {
  if (handle == kNoHandle || handle == kInvalidHandle) return;
  {
    const std::lock_guard lock(mutex_);
    paths_.erase(handle);
  }
  CloseHandle(ToHandle(handle));
}

}  // namespace qv
