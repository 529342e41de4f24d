#include "cli/OwnedDevice.h"

#include "cli/QvTool.h"

namespace qv::cli {

OwnedDevice OwnDevice(DevicePorts& ports, const PresentDevice& device) {
  const std::string key = ports.ClaimKey(device.path);
  // A simulated device nobody else can reach needs no claim.
  if (key.empty()) return {};
  ClaimResult claimed = ClaimDevice(key, "qvtool");
  if (claimed.claim.Held()) return {.claim = std::move(claimed.claim), .refusal = std::nullopt};
  if (claimed.inUse)
    return {.claim = {},
            .refusal = CommandResult{kExitInUse, "the device is in use by " +
                                                     DescribeHolder(claimed.holder) +
                                                     ": nothing was sent to it. Run again once "
                                                     "that program is done with it"}};
  return {.claim = {},
          .refusal = CommandResult{kExitInUse,
                                   "cannot make sure that no other program uses the "
                                   "device, so nothing was sent to it: " +
                                       claimed.error}};
}

}  // namespace qv::cli
