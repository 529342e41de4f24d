#pragma once

#include <optional>
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

  // Whether the interface is still among the present interfaces of its class; nullopt when that
  // cannot be told (the path names no class, or the list was not obtained).
  std::optional<bool> Listed(std::string_view path);
};

}  // namespace qv
