#include "platform/win32/Win32DeviceIo.h"

#include <windows.h>

#include <limits>

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
// of the second (433, ERROR_NO_SUCH_DEVICE in the platform's list).
constexpr DWORD kErrorNoSuchDevice = 433;
bool DeviceRemoved(DWORD error) {
  return error == ERROR_DEVICE_NOT_CONNECTED || error == kErrorNoSuchDevice ||
         error == ERROR_DEVICE_REMOVED || error == ERROR_DEV_NOT_EXIST;
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
  return reinterpret_cast<NativeHandle>(handle);
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
      // Given up on: the driver completes the request as cancelled (or, in a race, as done).
      // Either way it is waited for, as the driver may write the buffers until it completes.
      CancelIoEx(ToHandle(handle), &overlapped);
      GetOverlappedResult(ToHandle(handle), &overlapped, &returned, TRUE);
      return {};
    }
    ok = GetOverlappedResult(ToHandle(handle), &overlapped, &returned, FALSE);
  }
  if (ok == FALSE) return {.gone = DeviceRemoved(GetLastError())};
  return {true, static_cast<std::uint32_t>(returned)};
}

void Win32DeviceIo::Close(NativeHandle handle) {
  if (handle == kNoHandle || handle == kInvalidHandle) return;
  CloseHandle(ToHandle(handle));
}

}  // namespace qv
