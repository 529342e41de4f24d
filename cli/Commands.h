#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "cli/ProgressBar.h"
#include "flash/CoreState.h"

// The device commands of the tool, on a connection whose device path is set. Each one brackets
// its requests as the ISP page's Auto run does with ISP mode on: open, enter ISP mode, the
// operation, leave ISP mode, close. They return whether the device did what was asked.
namespace qv::cli {

// The one-click update of FlashImage.
bool UpdateFirmware(CoreState& core, ProgressBar& progress);
// Flash 0 up to FlashImage.Length against the image.
bool VerifyFlash(CoreState& core, ProgressBar& progress);
bool BlankCheckFlash(CoreState& core, ProgressBar& progress, std::uint32_t size);
// Clears the status register, erases the whole chip and protects it again.
bool EraseWholeFlash(CoreState& core, ProgressBar& progress);
// Reads 0 up to size into ReadBackBuffer, every block twice.
bool ReadBackFlash(CoreState& core, ProgressBar& progress, std::uint32_t size);

// "0xEF,  0x40,  0x13,  " as the ISP page shows the identification.
bool ShowChipId(CoreState& core, std::ostream& out);
// "Current Firmware:V1.9" from the firmware's version registers; ISP mode is not entered, it is
// the running firmware that answers.
bool ShowFirmwareVersion(CoreState& core, std::ostream& out);

}  // namespace qv::cli
