#include "platform/win32/Win32DeviceInterfaces.h"

// clang-format off
#include <windows.h>
#include <devpropdef.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "util/Text.h"

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

// The device path of one interface, or nothing when its detail cannot be fetched; `device` gets
// the device the interface belongs to.
std::optional<std::string> InterfacePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& interfaceData,
                                         SP_DEVINFO_DATA& device) {
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(list, &interfaceData, nullptr, 0, &required, nullptr);
  constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  if (required <= kPathOffset) return std::nullopt;

  // DWORD elements keep the detail structure suitably aligned.
  std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD));
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  device = {};
  device.cbSize = sizeof device;
  if (!SetupDiGetDeviceInterfaceDetailA(list, &interfaceData, detail, required, nullptr, &device)) {
    return std::nullopt;
  }
  // Bounded by the buffer: a path without its terminator must not be read past the end.
  const char* begin = reinterpret_cast<const char*>(storage.data()) + kPathOffset;
  const char* end = std::find(begin, begin + (required - kPathOffset), '\0');
  return std::string(begin, end);
}

// When Windows last saw the device arrive ("arrived" and the FILETIME's count), or empty where it
// does not keep that (before Windows 8, and under some emulations).
std::string LastArrival(HDEVINFO list, SP_DEVINFO_DATA& device) {
  // DEVPKEY_Device_LastArrivalDate, spelled out so that no GUID library is linked for it.
  static constexpr DEVPROPKEY kLastArrivalDate = {
      {0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}}, 102};
  DEVPROPTYPE type = 0;
  FILETIME time{};
  if (!SetupDiGetDevicePropertyW(list, &device, &kLastArrivalDate, &type,
                                 reinterpret_cast<PBYTE>(&time), sizeof time, nullptr, 0) ||
      type != DEVPROP_TYPE_FILETIME)
    return {};
  return "arrived " + std::to_string((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

}  // namespace

std::optional<Guid> InterfaceClassOfPath(std::string_view path) {
  // "#{" then 8-4-4-4-12 hex digits and "}", then the end or a reference string.
  constexpr std::size_t kGuidText = 38;
  const std::size_t open = path.rfind("#{");
  if (open == std::string_view::npos || path.size() < open + 1 + kGuidText) return std::nullopt;
  const std::string_view text = path.substr(open + 1, kGuidText);
  const std::size_t after = open + 1 + kGuidText;
  if (text.back() != '}' || (after < path.size() && path[after] != '\\')) return std::nullopt;
  const auto hex = [&](std::size_t at, std::size_t digits) {
    return ParseUnsigned(text.substr(at, digits), 16);
  };
  const auto data1 = hex(1, 8), data2 = hex(10, 4), data3 = hex(15, 4);
  if (!data1 || !data2 || !data3 || text[9] != '-' || text[14] != '-' || text[19] != '-' ||
      text[24] != '-')
    return std::nullopt;
  Guid guid{static_cast<std::uint32_t>(*data1),
            static_cast<std::uint16_t>(*data2),
            static_cast<std::uint16_t>(*data3),
            {}};
  for (std::size_t i = 0; i < guid.data4.size(); ++i) {
    const auto byte = hex(i < 2 ? 20 + 2 * i : 21 + 2 * i, 2);
    if (!byte) return std::nullopt;
    guid.data4[i] = static_cast<std::uint8_t>(*byte);
  }
  return guid;
}

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
    SP_DEVINFO_DATA device{};
    if (auto path = InterfacePath(list.Get(), interfaceData, device)) {
      std::string arrival = LastArrival(list.Get(), device);
      std::lock_guard lock(mutex_);
      arrival_[*path] = std::move(arrival);
      paths.push_back(std::move(*path));
    }
  }
  return paths;
}

std::string Win32DeviceInterfaces::Arrival(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto it = arrival_.find(path);
  return it == arrival_.end() ? std::string() : it->second;
}

std::optional<bool> Win32DeviceInterfaces::Listed(std::string_view path) {
  const auto interfaceClass = InterfaceClassOfPath(path);
  if (!interfaceClass) return std::nullopt;
  const auto paths = PresentPaths(*interfaceClass);
  if (!paths) return std::nullopt;
  // SetupAPI's paths are not case-sensitive.
  const std::string wanted = LowerAscii(path);
  return std::any_of(paths->begin(), paths->end(),
                     [&](const std::string& listed) { return LowerAscii(listed) == wanted; });
}

}  // namespace qv
