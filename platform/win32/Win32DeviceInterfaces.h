#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/DeviceInterfaces.h"

namespace qv {

// The interface class a device interface path ends with: "...#{a5dcbf10-...}", or
// "...#{7e2c4d91-...}\global" with a reference string. nullopt for a path that names none.
std::optional<Guid> InterfaceClassOfPath(std::string_view path);

// Discovery through SetupAPI: the present interfaces of one device interface class.
class Win32DeviceInterfaces final : public DeviceInterfaces {
 public:
  std::optional<std::vector<std::string>> PresentPaths(const Guid& interfaceClass) override;
  // The path holds the device's instance, which a device plugged in on another port changes; a
  // replug on the same port keeps it, and only the time Windows last saw the device arrive (where
  // this Windows keeps it) tells the two pluggings in apart.
  std::string Arrival(const std::string& path) override;

  // Whether the interface is still among the present interfaces of its class; nullopt when that
  // cannot be told (the path names no class, or the list was not obtained).
  std::optional<bool> Listed(std::string_view path);

 private:
  std::mutex mutex_;                            // the listings of several threads
  std::map<std::string, std::string> arrival_;  // by path, as last listed
};

}  // namespace qv
