#pragma once

#include <optional>

#include "cli/Commands.h"
#include "cli/DevicePorts.h"
#include "cli/DeviceSelection.h"
#include "platform/DeviceOwner.h"

namespace qv::cli {

// A device this run owns for as long as it works with it, or the refusal to show instead: one
// device, one owner, so that a second program never interleaves its erase and program with the
// first one's. Claimed before anything is sent to the device, on the thread that works with it.
struct OwnedDevice {
  DeviceClaim claim;
  std::optional<CommandResult> refusal;  // another owner holds it, or no claim could be made
};

OwnedDevice OwnDevice(DevicePorts& ports, const PresentDevice& device);

}  // namespace qv::cli
