#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/DeviceSelection.h"
#include "cli/ProgressBar.h"
#include "flash/CoreState.h"
#include "platform/DeviceInterfaces.h"

// The device commands of the tool, on a connection whose device path is set. Each one brackets
// its requests as the ISP page's Auto run does with ISP mode on: open, enter ISP mode, the
// operation, leave ISP mode, close. Flash commands identify the flash first, and refuse a size
// past its end.
namespace qv::cli {

// An exit code and, when there is more to say than the progress showed, the sentence for
// standard error.
struct CommandResult {
  int exit = 0;
  std::string message;
  bool warning = false;  // the message is a warning beside a success
};

// Where a command runs and what it may assume.
struct CommandContext {
  CoreState& core;
  ProgressBar& progress;
  DeviceInterfaces& interfaces;
  const PresentDevice& device;
  bool force = false;  // go on with a flash that does not answer its identification
  // update: where to keep the whole flash, read before anything is erased (empty: no backup).
  std::string backupPath;
};

// The one-click update of FlashImage; stops retrying once the device has left, and refuses a
// flash that does not answer (unless forced) or that is smaller than the image before anything
// is erased.
CommandResult UpdateFirmware(const CommandContext& context);
// Flash 0 up to FlashImage.Length against the image.
CommandResult VerifyFlash(const CommandContext& context);
// `size` bytes from 0 (default 0x40000) must be erased.
CommandResult BlankCheckFlash(const CommandContext& context, std::optional<std::uint32_t> size);
// Clears the status register, erases the whole chip and protects it again; refuses a flash that
// does not answer its identification unless forced.
CommandResult EraseWholeFlash(const CommandContext& context);
// Reads 0 up to `bytes` into ReadBackBuffer, every block twice; a size the user gave (`given`,
// of which `bytes` may be a rounding up) must not be past the flash.
CommandResult ReadBackFlash(const CommandContext& context, std::uint32_t given, std::uint32_t bytes,
                            bool sizeGiven);
// The whole flash (or `size` bytes of it), every block read twice, into a binary file written
// through a temporary file; nothing is written when a read fails.
CommandResult BackUpFlash(const CommandContext& context, const std::string& path,
                          std::optional<std::uint32_t> size);
// Puts a backup into the core's whole-flash image, for UpdateFirmware to write back (it must be
// the whole identified flash, unless forced) and VerifyFlash to compare.
void SetWholeFlash(CoreState& core, std::vector<std::uint8_t> bytes);

// "0xEF,  0x40,  0x13,  " as the ISP page shows the identification, and the part it names. An
// identification of FF FF FF or 00 00 00 is no flash's: it fails unless forced.
CommandResult ShowChipId(const CommandContext& context, std::ostream& out);
// "Current Firmware:V1.9" from the firmware's version registers; ISP mode is not entered, it is
// the running firmware that answers.
bool ShowFirmwareVersion(CoreState& core, std::ostream& out);

}  // namespace qv::cli
