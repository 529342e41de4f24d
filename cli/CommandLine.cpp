#include "cli/CommandLine.h"

#include <algorithm>

namespace qv::cli {
namespace {

constexpr const char* kExitCodes =
    "Exit codes: 0 success, 1 the operation failed on the device (or was not confirmed), 2 usage "
    "or file error, 3 no device, 4 the device is in use by another program (nothing was sent), "
    "5 a replayed capture's requests differ from the tool's, "
    "130 stopped by Ctrl-C, a closed terminal or a service stop (the device left protected).";

// Each command's help shows the global options too: they are accepted after the command as well,
// and "update --help" is where a user looks for --yes.
std::string GlobalOptionsText(const CLI::App& app) {
  std::string text = "Global options (before or after the command):\n";
  for (const CLI::Option* option : app.get_options()) {
    const std::string names = option->get_name(false, true);
    if (names.find("--help") != std::string::npos || names.find("--version") != std::string::npos)
      continue;
    std::string line = "  " + names;
    const std::string type = option->get_type_name();
    if (!type.empty()) line += (type.starts_with("[") ? "" : " ") + type;
    line.resize(std::max<std::size_t>(line.size() + 1, 24), ' ');
    text += line + option->get_description() + "\n";
  }
  return text;
}

void FooterEverywhere(CLI::App& app, const std::string& footer) {
  for (CLI::App* command : app.get_subcommands({})) {
    command->footer(footer);
    FooterEverywhere(*command, footer);
  }
}

// The parser's place of a row: its group's subcommand first, made with the group's help when the
// first of its commands comes.
CLI::App& PlaceOf(CLI::App& app, std::string_view words) {
  const std::size_t blank = words.find(' ');
  if (blank == std::string_view::npos) return *app.add_subcommand(std::string(words), "");
  const std::string group(words.substr(0, blank));
  const auto known = app.get_subcommands([&](CLI::App* c) { return c->get_name() == group; });
  CLI::App* parent = known.empty() ? nullptr : known.front();
  if (!parent) {
    std::string_view help;
    for (const CommandGroup* candidate : AllGroups())
      if (candidate->word == group) help = candidate->help;
    parent = app.add_subcommand(group, std::string(help));
    parent->require_subcommand(1);
  }
  return PlaceOf(*parent, words.substr(blank + 1));
}

}  // namespace

CommandLine::CommandLine() {
  app_ = std::make_unique<CLI::App>(
      "Firmware update and maintenance of USB audio devices with the QV5230 bridge chip.",
      "qvtool");
  CLI::App& app = *app_;
  app.set_version_flag("--version", std::string("qvtool ") + QV_TOOL_VERSION);
  app.require_subcommand(1);
  // Global options are accepted after the command too; subcommands inherit this.
  app.fallthrough();
  // The setup is taken only after '=': a word after a blank is the command line's next word, as
  // it would be for any other flag, never a setup (see TakeSimulateSetup).
  app.add_flag("--simulate", simulate_,
               "Use the simulated device, set up by the optional =SETUP: "
               "key=value pairs separated by ; (for example "
               "--simulate='model=Brevanto_RX1;flash-file=flash.bin')")
      ->type_name("[=SETUP]");
  deviceOption_ = app.add_option("--device", device_,
                                 "The device to use: its name as list shows it, VID:PID "
                                 "(e5d3:7a01), its match text or any part of its interface "
                                 "path, in any case")
                      ->type_name("MATCH");
  app.add_flag("-y,--yes", options_.yes, "Change the device without asking for confirmation");
  app.add_flag("--force", options_.force,
               "Update with a file named for another model, or a flash that does not answer "
               "its identification");
  app.add_flag("-v,--verbose", options_.verbose, "Log each device request to standard error");
  app.add_flag("--json", options_.json,
               "Write one JSON document to standard output (errors too) instead of text");
  app.add_option("--log", options_.logPath,
                 "Write the decoded request trace (as -v shows it) to this file")
      ->type_name("FILE");
  app.add_option("--capture", options_.capturePath,
                 "Write the conversation with the devices (every request and answer, as JSON "
                 "lines) to this file, to replay with --simulate=replay=FILE")
      ->type_name("FILE");
  app.footer(kExitCodes);

  for (const Command* row : AllCommands()) {
    CLI::App& place = PlaceOf(app, row->words);
    place.description(std::string(row->help));
    commands_.push_back({row, &place, row->Declare(place)});
  }

  FooterEverywhere(app, GlobalOptionsText(app) + "\n" + kExitCodes);
}

void CommandLine::Parse(const std::vector<std::string>& args) {
  const std::vector<std::string> given = TakeSimulateSetup(args, setup_);
  std::vector<std::string> reversed(given.rbegin(), given.rend());
  app_->parse(reversed);
}

DeclaredCommand* CommandLine::Given() {
  for (DeclaredCommand& command : commands_)
    if (command.app->parsed()) return &command;
  return nullptr;
}

GlobalOptions CommandLine::Options() const {
  GlobalOptions options = options_;
  if (simulate_) options.simulate = setup_;
  if (deviceOption_->count()) options.device = device_;
  return options;
}

std::string CommandList(const CLI::App& app) {
  std::string names;
  for (const CLI::App* command : app.get_subcommands({}))
    names += (names.empty() ? "" : ", ") + command->get_name();
  return names;
}

std::optional<std::string> FirstCommandWord(const std::vector<std::string>& args) {
  // --device, --log and --capture always take a value.
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--device" || word == "--log" || word == "--capture") {
      ++i;
      continue;
    }
    if (word.starts_with("-")) continue;
    return word;
  }
  return std::nullopt;
}

std::optional<std::string> SetupAfterABlank(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--") break;
    const std::string& next = args[i + 1];
    if (args[i] == "--simulate" && !next.starts_with("-") && next.find('=') != std::string::npos)
      return "'" + next + "' after --simulate is not taken as its setup: write --simulate=" + next +
             " (the setup follows '=', with no blank)";
  }
  return std::nullopt;
}

std::vector<std::string> TakeSimulateSetup(const std::vector<std::string>& args,
                                           std::string& setup) {
  constexpr std::string_view kWithSetup = "--simulate=";
  std::vector<std::string> rest;
  bool positionalOnly = false;
  for (const std::string& arg : args) {
    positionalOnly = positionalOnly || arg == "--";
    if (!positionalOnly && arg.starts_with(kWithSetup)) {
      setup = arg.substr(kWithSetup.size());
      rest.push_back("--simulate");
    } else {
      rest.push_back(arg);
    }
  }
  return rest;
}

}  // namespace qv::cli
