#include "cli/CommandTable.h"

#include <algorithm>
#include <array>

namespace qv::cli {
namespace {

// The order of the help's list and of "commands: ...": the devices, the flash, what the device
// tells, files and models, then the engineering commands. A command or group not named here
// comes after these, in the order of its family.
constexpr std::array<std::string_view, 18> kHelpOrder = {
    "list",    "update",  "read",   "verify",   "blank-check", "erase",
    "chip-id", "version", "backup", "restore",  "check-file",  "models",
    "reg",     "i2c",     "param",  "settings", "status",      "key"};

std::size_t HelpRank(std::string_view words) {
  const std::string_view first = words.substr(0, words.find(' '));
  return static_cast<std::size_t>(std::find(kHelpOrder.begin(), kHelpOrder.end(), first) -
                                  kHelpOrder.begin());
}

std::array<const CommandFamily*, 6> Families() {
  return {&FlashCommands(), &InfoCommands(),      &RegisterCommands(),
          &I2cCommands(),   &ParameterCommands(), &StatusCommands()};
}

}  // namespace

std::vector<const Command*> AllCommands() {
  std::vector<const Command*> rows;
  for (const CommandFamily* family : Families())
    for (const Command& command : family->commands) rows.push_back(&command);
  std::stable_sort(rows.begin(), rows.end(), [](const Command* a, const Command* b) {
    return HelpRank(a->words) < HelpRank(b->words);
  });
  return rows;
}

std::vector<const CommandGroup*> AllGroups() {
  std::vector<const CommandGroup*> groups;
  for (const CommandFamily* family : Families())
    for (const CommandGroup& group : family->groups) groups.push_back(&group);
  return groups;
}

}  // namespace qv::cli
