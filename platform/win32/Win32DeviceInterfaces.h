#pragma once

#include "platform/DeviceInterfaces.h"

namespace qv {

// Discovery through SetupAPI: the present interfaces of one device interface class.
class Win32DeviceInterfaces final : public DeviceInterfaces {
 public:
  std::optional<std::vector<std::string>> PresentPaths(const Guid& interfaceClass) override;
};

}  // namespace qv
