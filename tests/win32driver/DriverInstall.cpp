#include "tests/win32driver/DriverInstall.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>
#include <cfgmgr32.h>
// clang-format on

#include <vector>

namespace qv::test {
namespace {

// The setup class of the INF's devices.
constexpr GUID kLoopbackClass = {
    0x1ABEC4A3, 0x979B, 0x471E, {0x88, 0x50, 0x3D, 0x6B, 0x80, 0xE0, 0x77, 0xA9}};

std::string Failed(const std::string& step) {
  return step + " failed (error " + std::to_string(GetLastError()) + ")";
}

// Destroys a device information set on every way out.
class DeviceSet {
 public:
  DeviceSet() : set_(SetupDiCreateDeviceInfoList(&kLoopbackClass, nullptr)) {}
  DeviceSet(const DeviceSet&) = delete;
  DeviceSet& operator=(const DeviceSet&) = delete;
  ~DeviceSet() {
    if (Valid()) SetupDiDestroyDeviceInfoList(set_);
  }
  bool Valid() const { return set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO Get() const { return set_; }

 private:
  HDEVINFO set_;
};

}  // namespace

std::optional<InstalledDevice> InstallLoopbackDevice(const std::string& infPath,
                                                     const std::string& deviceId,
                                                     const std::string& hardwareId,
                                                     std::string& error) {
  const DeviceSet set;
  if (!set.Valid()) {
    error = Failed("SetupDiCreateDeviceInfoList");
    return std::nullopt;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  if (!SetupDiCreateDeviceInfoA(set.Get(), deviceId.c_str(), &kLoopbackClass, nullptr, nullptr,
                                DICD_GENERATE_ID, &device)) {
    error = Failed("SetupDiCreateDeviceInfo");
    return std::nullopt;
  }
  // REG_MULTI_SZ: the id and an empty string after it.
  std::vector<BYTE> ids(hardwareId.begin(), hardwareId.end());
  ids.insert(ids.end(), {0, 0});
  if (!SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_HARDWAREID, ids.data(),
                                         static_cast<DWORD>(ids.size()))) {
    error = Failed("SetupDiSetDeviceRegistryProperty(SPDRP_HARDWAREID)");
    return std::nullopt;
  }
  if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.Get(), &device)) {
    error = Failed("SetupDiCallClassInstaller(DIF_REGISTERDEVICE)");
    return std::nullopt;
  }
  char instance[MAX_DEVICE_ID_LEN] = {};
  if (!SetupDiGetDeviceInstanceIdA(set.Get(), &device, instance, sizeof(instance), nullptr)) {
    error = Failed("SetupDiGetDeviceInstanceId");
    return std::nullopt;
  }
  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, hardwareId.c_str(), infPath.c_str(),
                                          INSTALLFLAG_FORCE, &reboot)) {
    error = Failed("UpdateDriverForPlugAndPlayDevices");
    SetupDiCallClassInstaller(DIF_REMOVE, set.Get(), &device);
    return std::nullopt;
  }
  return InstalledDevice{instance};
}

bool RemoveLoopbackDevice(const std::string& instanceId, std::string& error) {
  const DeviceSet set;
  if (!set.Valid()) {
    error = Failed("SetupDiCreateDeviceInfoList");
    return false;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  if (!SetupDiOpenDeviceInfoA(set.Get(), instanceId.c_str(), nullptr, 0, &device)) {
    error = Failed("SetupDiOpenDeviceInfo " + instanceId);
    return false;
  }
  if (!SetupDiCallClassInstaller(DIF_REMOVE, set.Get(), &device)) {
    error = Failed("SetupDiCallClassInstaller(DIF_REMOVE)");
    return false;
  }
  return true;
}

}  // namespace qv::test
