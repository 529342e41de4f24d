#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/MaintenanceCommands.h"

// qvtool's command line: its options and commands, as CLI11 parses them.
namespace qv::cli {

struct Options {
  bool simulated = false;
  std::string simulate;  // the setup after --simulate=
  std::string device;
  bool yes = false;
  bool force = false;
  bool verbose = false;
  bool json = false;
  bool all = false;
  bool watch = false;
  std::string recordPath;
  std::string count;
  std::string logPath;
  std::string file;
  std::string size;
  std::string outPath;
  std::string format = "text";
  std::string backupPath;
  MaintenanceWords words;
};

// The commands, by what they do with the device.
struct Parsed {
  std::unique_ptr<CLI::App> app;
  CLI::Option* simulate = nullptr;
  CLI::Option* device = nullptr;
  CLI::App* list = nullptr;
  CLI::App* update = nullptr;
  CLI::App* read = nullptr;
  CLI::App* verify = nullptr;
  CLI::App* blankCheck = nullptr;
  CLI::App* erase = nullptr;
  CLI::App* chipId = nullptr;
  CLI::App* version = nullptr;
  CLI::App* checkFile = nullptr;
  CLI::App* models = nullptr;
  CLI::App* backup = nullptr;
  CLI::App* restore = nullptr;
  // The groups of the engineering commands, and each leaf with what it does.
  std::vector<CLI::App*> groups;
  std::vector<std::pair<CLI::App*, Maintenance>> maintenance;
};

Parsed BuildParser(Options& options);

// The command that was given, down to the leaf of a group ("reg read"); nullptr when a group was
// given without one of its commands.
CLI::App* GivenCommand(const Parsed& parsed);
std::optional<Maintenance> MaintenanceOf(const Parsed& parsed, const CLI::App* command);

// "list, update, ..." for messages; of a group's commands when a group is given.
std::string CommandList(const CLI::App& app);

// The command line with every "--simulate=SETUP" turned into "--simulate" and its setup kept in
// `options`. Words after "--" are left as they are.
std::vector<std::string> TakeSimulateSetup(const std::vector<std::string>& args, Options& options);

// The first word of the command line that is no option and no option's value: the command the
// user meant.
std::optional<std::string> FirstCommandWord(const std::vector<std::string>& args);

}  // namespace qv::cli
