#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "chip/MediaKeys.h"
#include "chip/SettingsFields.h"
#include "cli/Commands.h"
#include "cli/Report.h"
#include "flash/CoreState.h"

// The engineering pages' work from the command line: registers, I2C, stored parameters, the
// playback status and the media keys. Each does on the device what its page does (the same
// requests, order and pauses), bracketed by opening and closing the connection.
namespace qv::cli {

enum class Maintenance {
  kRegRead,
  kRegWrite,
  kRegDump,
  kI2cRead,
  kI2cWrite,
  kI2cRaw,
  kI2cDump,
  kSetVid,
  kSetPid,
  kSetString,
  kSettingsGet,
  kSettingsSet,
  kStatus,
  kKey,
};

// The words of the command line, as typed.
struct MaintenanceWords {
  std::string bank, address, value, slave, reg, count, index, text, key, read;
  std::vector<std::string> bytes, command, write, fields;
};

// The values they stand for, checked.
struct MaintenanceArgs {
  Maintenance command = Maintenance::kStatus;
  std::uint8_t bank = 0, address = 0, value = 0, slave = 0, reg = 0;
  std::size_t count = 1;
  std::vector<std::uint8_t> bytes;   // data to write
  std::vector<std::uint8_t> prefix;  // the raw access's command bytes
  std::size_t readCount = 0;         // the raw access reads this many (0: it writes)
  unsigned item = 0;                 // parameter item
  std::string text;                  // id or string
  std::vector<FieldChange> changes;  // settings set
  const MediaKey* key = nullptr;
};

// Checks every value before anything is sent: a bank, address or byte past 255, a slave address
// with bit 0 set, a count or length out of its range, or a text that is no number is refused
// with a message that names the limit.
std::optional<std::string> ParseMaintenance(Maintenance command, const MaintenanceWords& words,
                                            MaintenanceArgs& args);

// The question to ask before the command changes what the device keeps (unless --yes), or
// nothing when it asks none: new USB ids, or an empty string that clears a stored one.
std::optional<std::string> Question(const MaintenanceArgs& args);

CommandResult RunMaintenance(const MaintenanceArgs& args, CoreState& core, Report& report);

}  // namespace qv::cli
