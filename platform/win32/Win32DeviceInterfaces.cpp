#include "platform/win32/Win32DeviceInterfaces.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cstddef>

namespace qv {
namespace {

// After this many failed indices in a row the list is taken as exhausted, so a list that never
// reports its end cannot hold the caller forever.
constexpr DWORD kMaxConsecutiveEnumFailures = 64;

GUID ToWindowsGuid(const Guid& guid) {
  GUID out{};
  out.Data1 = guid.data1;
  out.Data2 = guid.data2;
  out.Data3 = guid.data3;
  for (std::size_t i = 0; i < guid.data4.size(); ++i) out.Data4[i] = guid.data4[i];
  return out;
}

// Destroys the device information list when enumeration ends, on every path.
class DeviceInfoList {
 public:
  explicit DeviceInfoList(HDEVINFO list) : list_(list) {}
  DeviceInfoList(const DeviceInfoList&) = delete;
  DeviceInfoList& operator=(const DeviceInfoList&) = delete;
  ~DeviceInfoList() {
    if (Valid()) SetupDiDestroyDeviceInfoList(list_);
  }

  bool Valid() const { return list_ != INVALID_HANDLE_VALUE; }
  HDEVINFO Get() const { return list_; }

 private:
  HDEVINFO list_;
};

// The device path of one interface, or nothing when its detail cannot be fetched.
std::optional<std::string> InterfacePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& interfaceData) {
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(list, &interfaceData, nullptr, 0, &required, nullptr);
  constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  if (required <= kPathOffset) return std::nullopt;

  // DWORD elements keep the detail structure suitably aligned.
  std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD));
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(list, &interfaceData, detail, required, nullptr, nullptr)) {
    return std::nullopt;
  }
  // Bounded by the buffer: a path without its terminator must not be read past the end.
  const char* begin = reinterpret_cast<const char*>(storage.data()) + kPathOffset;
  const char* end = std::find(begin, begin + (required - kPathOffset), '\0');
  return std::string(begin, end);
}

}  // namespace

std::optional<std::vector<std::string>> Win32DeviceInterfaces::PresentPaths(
    const Guid& interfaceClass) {
  const GUID classGuid = ToWindowsGuid(interfaceClass);
  const DeviceInfoList list(
      SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!list.Valid()) return std::nullopt;

  std::vector<std::string> paths;
  DWORD failuresInARow = 0;
  for (DWORD index = 0; failuresInARow < kMaxConsecutiveEnumFailures; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiEnumDeviceInterfaces(list.Get(), nullptr, &classGuid, index, &interfaceData)) {
      if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
      ++failuresInARow;  // this index is unreadable; the ones after it may not be
      continue;
    }
    failuresInARow = 0;
    if (auto path = InterfacePath(list.Get(), interfaceData)) paths.push_back(std::move(*path));
  }
  return paths;
}

}  // namespace qv
