#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "cli/DevicePorts.h"
#include "cli/DeviceSelection.h"
#include "cli/QvTool.h"
#include "cli/Report.h"
#include "cli/RequestTrace.h"
#include "image/FlashImage.h"

namespace qv::cli {

// `update --all`: every present device of the model the firmware file is named for, updated
// side by side, each by the sequence of `update` on a thread of its own, with its own connection
// and core state. A device with a firmware-update id joins only when --device names it. One
// device's failure never stops the others; Ctrl-C stops them all, each left as a single update
// leaves it.
struct UpdateAllRequest {
  DevicePorts& ports;
  DeviceIo& io;                   // the ports' own, or the request trace over it
  RequestTrace* trace = nullptr;  // when io is the trace: its lines get the devices' labels
  const std::vector<PresentDevice>& present;
  std::optional<std::string> wanted;  // --device
  const FlashImage& image;
  std::string file;
  bool yes = false;
  bool force = false;
  bool simulated = false;
  const std::atomic<int>* interrupts = nullptr;
};

// Exit 0 when every device was updated, 1 when any failed, 130 when stopped, 3 when no device of
// the model is present (the message lists what is).
int UpdateAll(const UpdateAllRequest& request, const ToolStreams& streams, Report& report);

}  // namespace qv::cli
