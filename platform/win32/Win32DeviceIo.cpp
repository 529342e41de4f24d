#include "platform/win32/Win32DeviceIo.h"

#include <windows.h>

#include <limits>

namespace qv {
namespace {

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

}  // namespace

NativeHandle Win32DeviceIo::Open(const char* path) {
  if (path == nullptr) return kInvalidHandle;
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return kInvalidHandle;
  return reinterpret_cast<NativeHandle>(handle);
}

IoResult Win32DeviceIo::Control(NativeHandle handle, std::uint32_t code,
                                std::span<const std::uint8_t> input,
                                std::span<std::uint8_t> output) {
  if (handle == kNoHandle || handle == kInvalidHandle) return {};
  // A size that does not fit the call's DWORD would be silently cut short.
  if (!FitsDword(input.size()) || !FitsDword(output.size())) return {};
  DWORD returned = 0;
  // The input is only read; the API's non-const pointer is historical.
  const BOOL ok = DeviceIoControl(
      ToHandle(handle), code, input.empty() ? nullptr : const_cast<std::uint8_t*>(input.data()),
      static_cast<DWORD>(input.size()), output.empty() ? nullptr : output.data(),
      static_cast<DWORD>(output.size()), &returned, nullptr);
  if (ok == FALSE) return {.gone = DeviceRemoved(GetLastError())};
  return {true, static_cast<std::uint32_t>(returned)};
}

void Win32DeviceIo::Close(NativeHandle handle) {
  if (handle == kNoHandle || handle == kInvalidHandle) return;
  CloseHandle(ToHandle(handle));
}

}  // namespace qv
