#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/DeviceModels.h"
#include "cli/Commands.h"
#include "cli/DevicePorts.h"
#include "cli/DeviceSelection.h"
#include "cli/ProgressBar.h"
#include "cli/QvTool.h"
#include "cli/Report.h"
#include "cli/RequestTrace.h"
#include "image/FlashImage.h"

namespace qv::cli {

// The devices an update of many picks: the model's devices, narrowed to those `wanted` (--device)
// names when it is given, and the devices in firmware-update mode it names: those tell no model,
// so only a name brings them in.
std::vector<const PresentDevice*> DevicesOfModel(const std::vector<PresentDevice>& present,
                                                 const DeviceModel& model,
                                                 const std::optional<std::string>& wanted);

// Why a file names no model for `what` ("update --all updates every device"), or nothing when it
// does; `model` is set then.
std::optional<std::string> NoModelNamed(const std::string& what, const std::string& file,
                                        const DeviceModel*& model);

// What each device's update of several shares.
struct DeviceUpdateContext {
  DevicePorts& ports;
  DeviceIo& io;
  const FlashImage& image;
  bool force = false;
  const std::atomic<int>* interrupts = nullptr;
};

// How one device's update went, its steps and its time on the device's own clock.
struct DeviceOutcome {
  CommandResult result;
  std::vector<Step> steps;
  std::chrono::microseconds time{0};
};

// One device's update by the sequence of `update`, on the calling thread with a core state of its
// own, its progress on `row` and its pauses on `clock` (the device's own, fetched beforehand).
// `beforeResult`, when given, gets the outcome before the row shows the update's result.
DeviceOutcome UpdateOneDevice(const DeviceUpdateContext& context, const PresentDevice& device,
                              ProgressRow& row, bool terminal, int columns, Clock& clock,
                              const std::function<void(const DeviceOutcome&)>& beforeResult = {});

// "Firmware update success!", or "Firmware update Fail!" and the text of the failure that says
// the most, which names its address where it has one.
std::string ResultText(const DeviceOutcome& outcome);

// "1 device", "3 devices".
std::string DeviceCount(std::uint64_t n);

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
  const std::atomic<int>* interrupts = nullptr;
};

// Exit 0 when every device was updated, 1 when any failed, 130 when stopped, 3 when no device of
// the model is present (the message lists what is).
CommandResult UpdateAll(const UpdateAllRequest& request, const ToolStreams& streams,
                        Report& report);

}  // namespace qv::cli
