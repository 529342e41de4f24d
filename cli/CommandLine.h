#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CommandTable.h"

// qvtool's command line: the global options and the commands of the table, as CLI11 parses them.
namespace qv::cli {

// A command of the table in the parser, with its parameters for this run.
struct DeclaredCommand {
  const Command* row = nullptr;
  CLI::App* app = nullptr;
  std::unique_ptr<GivenCommand> given;
};

class CommandLine {
 public:
  // The parser of the global options and of every row of the table.
  CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // Parses the arguments after the program's name; throws CLI11's errors as CLI::App::parse does.
  void Parse(const std::vector<std::string>& args);

  CLI::App& App() { return *app_; }
  // The command that was given, down to the leaf of a group ("reg read"); nullptr when a group
  // was given without one of its commands, or nothing was parsed.
  DeclaredCommand* Given();
  GlobalOptions Options() const;

 private:
  std::unique_ptr<CLI::App> app_;
  std::vector<DeclaredCommand> commands_;
  GlobalOptions options_;  // all but the two below
  bool simulate_ = false;
  std::string setup_;  // the setup after --simulate=
  std::string device_;
  CLI::Option* deviceOption_ = nullptr;
};

// "list, update, ..." for messages; of a group's commands when a group is given.
std::string CommandList(const CLI::App& app);

// The command line with every "--simulate=SETUP" turned into "--simulate" and its setup kept in
// `setup`. Words after "--" are left as they are.
std::vector<std::string> TakeSimulateSetup(const std::vector<std::string>& args,
                                           std::string& setup);

// The first word of the command line that is no option and no option's value: the command the
// user meant.
std::optional<std::string> FirstCommandWord(const std::vector<std::string>& args);

// For a command line the parser refused: a word of the form key=value right after a bare
// "--simulate" was meant as its setup, which only '=' joins to it. The message saying so.
std::optional<std::string> SetupAfterABlank(const std::vector<std::string>& args);

}  // namespace qv::cli
