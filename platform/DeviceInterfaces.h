#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Guid.h"

namespace qv {

// Enumeration of present device interfaces of one interface class.
class DeviceInterfaces {
 public:
  virtual ~DeviceInterfaces() = default;

  // The device paths of the present interfaces of the class, in enumeration order. Interfaces
  // whose detail could not be fetched are left out. std::nullopt when the list itself could not
  // be obtained.
  virtual std::optional<std::vector<std::string>> PresentPaths(const Guid& interfaceClass) = 0;

  // What tells this plugging-in of the device at `path` from an earlier or a later one at the
  // same path, as of the last listing: an enumeration count, a bus address. Empty where the path
  // itself changes with every plugging in (a device instance on Windows), or where nothing tells.
  virtual std::string Arrival(const std::string& /*path*/) { return {}; }
};

}  // namespace qv
