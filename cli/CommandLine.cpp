#include "cli/CommandLine.h"

#include <algorithm>

namespace qv::cli {
namespace {

constexpr const char* kFileHelp =
    "Firmware file: Intel HEX (named .hex, or any name holding HEX text) or raw binary";

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

void Positional(CLI::App* command, const char* name, std::string& into, const char* help,
                bool required = true) {
  CLI::Option* option = command->add_option(name, into, help);
  if (required) option->required();
}

void FooterEverywhere(CLI::App& app, const std::string& footer) {
  for (CLI::App* command : app.get_subcommands({})) {
    command->footer(footer);
    FooterEverywhere(*command, footer);
  }
}

}  // namespace

Parsed BuildParser(Options& o) {
  Parsed p;
  p.app = std::make_unique<CLI::App>(
      "Firmware update and maintenance of USB audio devices with the QV5230 bridge chip.",
      "qvtool");
  CLI::App& app = *p.app;
  app.set_version_flag("--version", std::string("qvtool ") + QV_TOOL_VERSION);
  app.require_subcommand(1);
  // Global options are accepted after the command too; subcommands inherit this.
  app.fallthrough();
  // The setup is taken only after '=': a word after a blank is the command line's next word, as
  // it would be for any other flag, never a setup (see TakeSimulateSetup).
  p.simulate = app.add_flag("--simulate", o.simulated,
                            "Use the simulated device, set up by the optional =SETUP: "
                            "key=value pairs separated by ; (for example "
                            "--simulate='model=Brevanto_RX1;flash-file=flash.bin')")
                   ->type_name("[=SETUP]");
  p.device = app.add_option("--device", o.device,
                            "The device to use: its name as list shows it, VID:PID (e5d3:7a01), "
                            "its match text or any part of its interface path, in any case")
                 ->type_name("MATCH");
  app.add_flag("-y,--yes", o.yes, "Change the device without asking for confirmation");
  app.add_flag("--force", o.force,
               "Update with a file named for another model, or a flash that does not answer "
               "its identification");
  app.add_flag("-v,--verbose", o.verbose, "Log each device request to standard error");
  app.add_flag("--json", o.json,
               "Write one JSON document to standard output (errors too) instead of text");
  app.add_option("--log", o.logPath,
                 "Write the decoded request trace (as -v shows it) to this file")
      ->type_name("FILE");
  const std::string exitCodes =
      "Exit codes: 0 success, 1 the operation failed on the device (or was not confirmed), 2 "
      "usage or file error, 3 no device, 130 stopped by Ctrl-C (the device left protected).";
  app.footer(exitCodes);

  p.list = app.add_subcommand("list", "List the present devices");
  p.update = app.add_subcommand(
      "update",
      "Update the firmware: ISP mode, erase, blank check, program and verify (up to "
      "three attempts), protect");
  Positional(p.update, "FILE", o.file, kFileHelp);
  p.update
      ->add_option("--backup", o.backupPath,
                   "First read the whole flash into this file; no backup, no update")
      ->type_name("FILE");
  p.update->add_flag("--all", o.all,
                     "Update every present device of the model the file is named for, side by "
                     "side; --device narrows them, and names a device in firmware-update mode");
  p.update->add_flag("--watch", o.watch,
                     "A bench: update each device of the model the file is named for as it is "
                     "plugged in, until Ctrl-C (or --count devices)");
  p.update
      ->add_option("--record", o.recordPath,
                   "With --watch: add a JSON line for each finished device to this file, synced "
                   "line by line")
      ->type_name("FILE");
  p.update->add_option("--count", o.count, "With --watch: end after this many devices")
      ->type_name("N");
  p.read = app.add_subcommand("read", "Read the flash back, every block twice");
  p.read->add_option("--size", o.size, "Bytes to read from address 0 (default 0x8000)")
      ->type_name("N");
  p.read
      ->add_option(
          "--out", o.outPath,
          "Write to this file, replaced only by a complete read, instead of standard output "
          "(- is standard output)")
      ->type_name("FILE");
  p.read
      ->add_option("--format", o.format,
                   "text: lines of sixteen 0xNN entries, each line ended by a carriage return; "
                   "bin: the raw bytes")
      ->check(CLI::IsMember({"text", "bin"}))
      ->type_name("FORMAT");
  p.verify = app.add_subcommand("verify", "Compare the flash with a firmware file");
  Positional(p.verify, "FILE", o.file, kFileHelp);
  p.blankCheck = app.add_subcommand("blank-check", "Check that the flash is erased");
  p.blankCheck->add_option("--size", o.size, "Bytes to check from address 0 (default 0x40000)")
      ->type_name("N");
  p.erase = app.add_subcommand("erase", "Erase the whole flash and protect it again");
  p.chipId = app.add_subcommand("chip-id", "Show the flash chip's identification");
  p.version = app.add_subcommand("version", "Show the device's firmware version");
  p.backup = app.add_subcommand(
      "backup", "Read the flash (all of it, by the identified part) into a binary file");
  Positional(p.backup, "FILE", o.file, "The backup file, replaced only by a complete read");
  p.backup->add_option("--size", o.size, "Bytes to read from address 0 (default: the whole flash)")
      ->type_name("N");
  p.restore = app.add_subcommand(
      "restore", "Write a backup back: erase, blank check, program, verify, protect");
  Positional(p.restore, "FILE", o.file, "A backup made by backup");
  p.checkFile = app.add_subcommand(
      "check-file", "Look for the user-parameter marker in a firmware file, as the editor does");
  Positional(p.checkFile, "FILE", o.file, "Firmware file: .hex or .h00 (Intel HEX) or .bin");
  p.models = app.add_subcommand(
      "models", "List the models the tool knows, with their ids and firmware file names");

  MaintenanceWords& w = o.words;
  const auto leaf = [&](CLI::App* group, const char* name, const char* help, Maintenance what) {
    CLI::App* command = group->add_subcommand(name, help);
    p.maintenance.emplace_back(command, what);
    return command;
  };
  const auto group = [&](const char* name, const char* help) {
    CLI::App* g = app.add_subcommand(name, help);
    g->require_subcommand(1);
    p.groups.push_back(g);
    return g;
  };
  constexpr const char* kNumber = "(decimal, or hex after 0x)";

  CLI::App* reg = group("reg", "The chip's registers, one byte per request");
  CLI::App* c = leaf(reg, "read", "Select the bank and read one register", Maintenance::kRegRead);
  Positional(c, "BANK", w.bank, kNumber);
  Positional(c, "ADDR", w.address, kNumber);
  c = leaf(reg, "write", "Select the bank, write, wait 1 ms and show the value read back",
           Maintenance::kRegWrite);
  Positional(c, "BANK", w.bank, kNumber);
  Positional(c, "ADDR", w.address, kNumber);
  Positional(c, "VALUE", w.value, kNumber);
  c = leaf(reg, "dump", "All 256 registers of a bank as a table", Maintenance::kRegDump);
  Positional(c, "BANK", w.bank, kNumber);

  CLI::App* i2c = group("i2c", "Parts on the chip's I2C bus");
  c = leaf(i2c, "read", "Read COUNT registers (default 1) from REG", Maintenance::kI2cRead);
  Positional(c, "SLAVE", w.slave, "the address byte, bit 0 clear (0x20 ...)");
  Positional(c, "REG", w.reg, kNumber);
  Positional(c, "COUNT", w.count, "1 to 255", false);
  c = leaf(i2c, "write", "Write bytes from REG on", Maintenance::kI2cWrite);
  Positional(c, "SLAVE", w.slave, "the address byte, bit 0 clear");
  Positional(c, "REG", w.reg, kNumber);
  c->add_option("BYTE", w.bytes, "1 to 255 bytes")->required();
  c = leaf(i2c, "raw", "1 to 5 command bytes, then 1 to 5 data bytes written or read",
           Maintenance::kI2cRaw);
  Positional(c, "SLAVE", w.slave, "the address byte, bit 0 clear");
  c->add_option("--cmd", w.command, "1 to 5 command bytes")->required()->type_name("BYTE...");
  c->add_option("--write", w.write, "1 to 5 data bytes to write")->type_name("BYTE...");
  c->add_option("--read", w.read, "1 to 5 bytes to read")->type_name("N");
  c = leaf(i2c, "dump", "All 256 registers of a slave as a table", Maintenance::kI2cDump);
  Positional(c, "SLAVE", w.slave, "the address byte, bit 0 clear");

  CLI::App* param = group("param", "The USB ids and strings the device keeps");
  c = leaf(param, "set-vid", "Store a new vendor id (asks first)", Maintenance::kSetVid);
  Positional(c, "XXXX", w.text, "four hexadecimal digits");
  c = leaf(param, "set-pid", "Store a new product id (asks first)", Maintenance::kSetPid);
  Positional(c, "XXXX", w.text, "four hexadecimal digits");
  c = leaf(param, "set-string", "Store string 1 (manufacturer), 2 (model) or 3 (serial number)",
           Maintenance::kSetString);
  Positional(c, "N", w.index, "1, 2 or 3");
  Positional(c, "TEXT", w.text,
             "at most 31 bytes, no control characters; a text that starts with - goes after --, "
             "as in: set-string 1 -- -abc");

  CLI::App* settings = group("settings", "The device's audio settings record");
  leaf(settings, "get", "Read the record back and show it by field", Maintenance::kSettingsGet);
  c = leaf(settings, "set", "Change the named fields only: read back, change, set, read back",
           Maintenance::kSettingsSet);
  c->add_option("FIELD=VALUE", w.fields,
                "i2s-length=24|32 spdif-length=24|32 i2s-swap=on|off dsd-swap=on|off "
                "mclk=128|256|512|1024 i2s-format=standard|left-justified dsd-out=dsd|dop "
                "spdif-out=on|off i2s-out=on|off mclk-out=on|off")
      ->required();

  c = app.add_subcommand("status", "The playback status: connection, mute, format and rate");
  p.maintenance.emplace_back(c, Maintenance::kStatus);
  c = app.add_subcommand("key", "Press a media key on the device and wait for it");
  p.maintenance.emplace_back(c, Maintenance::kKey);
  Positional(c, "KEY", w.key, "prev, vol-, play, vol+ or next");

  const std::string footer = GlobalOptionsText(app) + "\n" + exitCodes;
  FooterEverywhere(app, footer);
  return p;
}

CLI::App* GivenCommand(const Parsed& parsed) {
  const auto given = parsed.app->get_subcommands();
  if (given.empty()) return nullptr;
  CLI::App* command = given.front();
  if (std::find(parsed.groups.begin(), parsed.groups.end(), command) == parsed.groups.end())
    return command;
  const auto leaves = command->get_subcommands();
  return leaves.empty() ? nullptr : leaves.front();
}

std::optional<Maintenance> MaintenanceOf(const Parsed& parsed, const CLI::App* command) {
  for (const auto& [leaf, what] : parsed.maintenance)
    if (leaf == command) return what;
  return std::nullopt;
}

std::string CommandList(const CLI::App& app) {
  std::string names;
  for (const CLI::App* command : app.get_subcommands({}))
    names += (names.empty() ? "" : ", ") + command->get_name();
  return names;
}

std::optional<std::string> FirstCommandWord(const std::vector<std::string>& args) {
  // --device and --log always take a value.
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--device" || word == "--log") {
      ++i;
      continue;
    }
    if (word.starts_with("-")) continue;
    return word;
  }
  return std::nullopt;
}

std::vector<std::string> TakeSimulateSetup(const std::vector<std::string>& args, Options& options) {
  constexpr std::string_view kWithSetup = "--simulate=";
  std::vector<std::string> rest;
  bool positionalOnly = false;
  for (const std::string& arg : args) {
    positionalOnly = positionalOnly || arg == "--";
    if (!positionalOnly && arg.starts_with(kWithSetup)) {
      options.simulate = arg.substr(kWithSetup.size());
      rest.push_back("--simulate");
    } else {
      rest.push_back(arg);
    }
  }
  return rest;
}

}  // namespace qv::cli
