#pragma once

// Root-enumerated Plug and Play devices of the loopback test driver, installed from its INF the
// way a device installer does it: a device information element with a generated instance id
// under the ROOT enumerator, its hardware id, DIF_REGISTERDEVICE, then
// UpdateDriverForPlugAndPlayDevices, which copies the driver, creates its service and starts the
// device. Removal is DIF_REMOVE, which takes the device away as an unplug does.

#include <optional>
#include <string>

namespace qv::test {

struct InstalledDevice {
  std::string instanceId;  // "ROOT\VID_E6A4&PID_6000\0000"
};

// Adds one device whose device id (the middle of its instance id) is `deviceId`, driven through
// the INF's model of `hardwareId`. nullopt with the reason in `error` when a step fails.
std::optional<InstalledDevice> InstallLoopbackDevice(const std::string& infPath,
                                                     const std::string& deviceId,
                                                     const std::string& hardwareId,
                                                     std::string& error);

// Removes the device as the PnP manager removes an unplugged one. False with the reason when a
// step fails.
bool RemoveLoopbackDevice(const std::string& instanceId, std::string& error);

}  // namespace qv::test
