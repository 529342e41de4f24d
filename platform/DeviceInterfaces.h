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
};

}  // namespace qv
