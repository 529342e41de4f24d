#include "cli/QvTool.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <memory>
#include <optional>
#include <span>
#include <sstream>

#include "cli/Commands.h"
#include "cli/DevicePorts.h"
#include "cli/DeviceSelection.h"
#include "cli/FirmwareFiles.h"
#include "cli/RequestTrace.h"
#include "flash/FlashOperations.h"
#include "util/AtomicFile.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

struct Options {
  std::string simulate;
  std::string device;
  bool yes = false;
  bool force = false;
  bool verbose = false;
  std::string file;
  std::string size;
  std::string outPath;
  std::string format = "text";
};

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
};

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
  p.simulate = app.add_option("--simulate", o.simulate,
                              "Use the simulated device, set up by the optional =SETUP: "
                              "key=value pairs separated by ; (for example "
                              "--simulate='model=Brevanto_RX1;flash-file=flash.bin')")
                   ->expected(0, 1)
                   ->type_name("[=SETUP]");
  p.device = app.add_option("--device", o.device,
                            "The device to use: its name as list shows it, VID:PID (e5d3:7a01), "
                            "its match text or any part of its interface path, in any case")
                 ->type_name("MATCH");
  app.add_flag("-y,--yes", o.yes, "Erase and write without asking for confirmation");
  app.add_flag("--force", o.force,
               "Update with a file named for another model, or a flash that does not answer "
               "its identification");
  app.add_flag("-v,--verbose", o.verbose, "Log each device request to standard error");
  const std::string exitCodes =
      "Exit codes: 0 success, 1 the operation failed on the device (or was not confirmed), 2 "
      "usage or file error, 3 no device, 130 stopped by Ctrl-C (the device left protected).";
  app.footer(exitCodes);

  p.list = app.add_subcommand("list", "List the present devices");
  p.update = app.add_subcommand(
      "update",
      "Update the firmware: ISP mode, erase, blank check, program and verify (up to "
      "three attempts), protect");
  p.update->add_option("FILE", o.file, kFileHelp)->required();
  p.read = app.add_subcommand("read", "Read the flash back, every block twice");
  p.read->add_option("--size", o.size, "Bytes to read from address 0 (default 0x8000)")
      ->type_name("N");
  p.read
      ->add_option("--out", o.outPath,
                   "Write to this file (replaced only by a complete read) instead of standard "
                   "output")
      ->type_name("FILE");
  p.read
      ->add_option("--format", o.format,
                   "text: lines of sixteen 0xNN entries, each line ended by a carriage return; "
                   "bin: the raw bytes")
      ->check(CLI::IsMember({"text", "bin"}))
      ->type_name("FORMAT");
  p.verify = app.add_subcommand("verify", "Compare the flash with a firmware file");
  p.verify->add_option("FILE", o.file, kFileHelp)->required();
  p.blankCheck = app.add_subcommand("blank-check", "Check that the flash is erased");
  p.blankCheck->add_option("--size", o.size, "Bytes to check from address 0 (default 0x40000)")
      ->type_name("N");
  p.erase = app.add_subcommand("erase", "Erase the whole flash and protect it again");
  p.chipId = app.add_subcommand("chip-id", "Show the flash chip's identification");
  p.version = app.add_subcommand("version", "Show the device's firmware version");

  const std::string globals = GlobalOptionsText(app);
  for (CLI::App* command : app.get_subcommands({})) command->footer(globals + "\n" + exitCodes);
  return p;
}

std::string CommandList(const CLI::App& app) {
  std::string names;
  for (const CLI::App* command : app.get_subcommands({}))
    names += (names.empty() ? "" : ", ") + command->get_name();
  return names;
}

// The first word of the command line that is no option and no option's value: the command the
// user meant. Only --device always takes a value; --simulate takes the next word when it is no
// command (as the parser does).
std::optional<std::string> FirstCommandWord(const std::vector<std::string>& args,
                                            const CLI::App& app) {
  const auto isCommand = [&](const std::string& word) {
    const auto commands = app.get_subcommands({});
    return std::any_of(commands.begin(), commands.end(),
                       [&](const CLI::App* c) { return c->get_name() == word; });
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--device" || (word == "--simulate" && i + 1 < args.size() &&
                               !isCommand(args[i + 1]) && !args[i + 1].starts_with("-"))) {
      ++i;
      continue;
    }
    if (word.starts_with("-")) continue;
    return word;
  }
  return std::nullopt;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Decimal, or hexadecimal after 0x; the flash's 24-bit address space is the widest any size
// can be.
std::optional<std::uint32_t> ParseSize(const std::string& text) {
  const bool hex = text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X"));
  const auto value = ParseUnsigned(hex ? std::string_view(text).substr(2) : text, hex ? 16 : 10,
                                   kFlashAddressSpace);
  if (!value || *value == 0) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

// Asks before the flash is erased; only a terminal can answer.
bool Confirm(const ToolStreams& streams, const std::string& warning) {
  streams.out << "Warning: " << warning << "\nProceed? [y/N] " << std::flush;
  if (!streams.inIsTerminal) {
    streams.out << "\n(standard input is not a terminal: no; pass --yes to go on without "
                   "asking)"
                << std::endl;
    return false;
  }
  std::string answer;
  std::getline(streams.in, answer);
  answer = Lower(answer);
  return answer == "y" || answer == "yes";
}

constexpr const char* kEraseWarningText =
    "Erase removes the device's firmware: the device will not start until it is updated again. "
    "Would you like to proceed?";

std::string Seconds(std::chrono::microseconds time) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << static_cast<double>(time.count()) / 1e6 << " s";
  return text.str();
}

int Fail(const ToolStreams& streams, int code, const std::string& message) {
  streams.err << "qvtool: " << message << '\n';
  return code;
}

int ListDevices(QuorvexUsb& usb, const std::vector<PresentDevice>& present,
                const ToolStreams& streams) {
  if (present.empty()) {
    streams.out << "No device found.\n";
    return kExitNoDevice;
  }
  for (const PresentDevice& device : present) {
    const bool answered = ProbePresentDevice(usb, device);
    streams.out << DescribeDevice(device) << (answered ? "" : "  (does not answer)") << '\n';
  }
  return kExitSuccess;
}

class Tool {
 public:
  Tool(Parsed& parsed, Options& options, const ToolStreams& streams, const ToolHooks& hooks)
      : p_(parsed), o_(options), streams_(streams), hooks_(hooks) {}

  int Run() {
    CLI::App* command = p_.app->get_subcommands().front();
    const bool needsFile = command == p_.update || command == p_.verify;
    const bool dumpToStdout = command == p_.read && o_.outPath.empty();
    std::ostream& report = dumpToStdout ? streams_.err : streams_.out;

    // Everything the user can get wrong is reported before anything is sent.
    std::optional<std::uint32_t> size;
    if (!o_.size.empty() && !(size = ParseSize(o_.size)))
      return Fail(streams_, kExitUsage,
                  "--size needs a number of bytes from 1 to 0x1000000, the flash's address "
                  "space (decimal, or hex after 0x)");
    auto image = std::make_unique<FlashImage>();
    if (needsFile) {
      const FirmwareLoad loaded = LoadFirmware(*image, o_.file);
      if (!loaded.result) return Fail(streams_, kExitUsage, loaded.result.Message());
      if (!loaded.note.empty()) report << loaded.note << std::endl;
    }

    const std::optional<std::string> simulate =
        p_.simulate->count() ? std::optional(o_.simulate) : std::nullopt;
    PortsResult ports = hooks_.ports ? hooks_.ports(simulate)
                        : simulate   ? SimulatedPorts(*simulate)
                                     : RealPorts();
    if (!ports.ports) return Fail(streams_, simulate ? kExitUsage : kExitNoDevice, ports.error);
    std::optional<RequestTrace> trace;
    if (o_.verbose) trace.emplace(ports.ports->Io(), streams_.err);
    DeviceIo& io = trace ? static_cast<DeviceIo&>(*trace) : ports.ports->Io();
    CoreState core(io, ports.ports->Interfaces(), ports.ports->DeviceClock());

    const auto present = FindPresentDevices(ports.ports->Interfaces());
    if (command == p_.list) return ListDevices(core.UsbDevice, present, streams_);

    const Selection selection =
        SelectDevice(present, p_.device->count() ? std::optional(o_.device) : std::nullopt);
    if (!selection.device)
      return Fail(streams_, selection.ambiguous ? kExitUsage : kExitNoDevice, selection.message);
    const PresentDevice& device = *selection.device;
    if (command == p_.update && !o_.force) {
      if (auto mismatch = ModelMismatch(o_.file, device.matchText))
        return Fail(streams_, kExitUsage, *mismatch);
    }
    if (!ProbePresentDevice(core.UsbDevice, device))
      return Fail(streams_, kExitNoDevice, "the device does not answer: " + DescribeDevice(device));
    core.FlashImage = *image;

    if (command == p_.update) {
      streams_.out << "Device: " << DescribeDevice(device) << std::endl;
      if (!o_.yes && !Confirm(streams_, kUpdateWarningText)) {
        ProgressBar(streams_.out, streams_.outIsTerminal, streams_.columns)
            .Status(kUpdateAbortedText, UpdateProgress::Style::kFailure);
        return kExitFailed;
      }
    }
    if (command == p_.erase && !o_.yes && !Confirm(streams_, kEraseWarningText)) {
      streams_.out << "Erase not confirmed: nothing was sent." << std::endl;
      return kExitFailed;
    }

    const bool reportIsTerminal = dumpToStdout ? streams_.errIsTerminal : streams_.outIsTerminal;
    const auto started = ports.ports->ModelledTime();
    CommandResult result;
    {
      ProgressBar progress(report, reportIsTerminal, streams_.columns, hooks_.interrupts);
      const CommandContext context{core, progress, ports.ports->Interfaces(), device, o_.force};
      result = RunCommand(command, context, size);
    }
    const auto finished = ports.ports->ModelledTime();
    if (flashWork_ && result.exit != kExitUsage && started && finished)
      report << "modelled device time " << Seconds(*finished - *started) << std::endl;
    if (const std::string fileError = ports.ports->FileError(); !fileError.empty())
      return Fail(streams_, kExitUsage, "simulator: " + fileError);
    if (!result.message.empty()) {
      streams_.err << "qvtool: " << result.message << '\n';
    }
    return result.exit;
  }

 private:
  CommandResult RunCommand(CLI::App* command, const CommandContext& context,
                           std::optional<std::uint32_t> size) {
    const auto shown = [](bool ok) { return CommandResult{ok ? kExitSuccess : kExitFailed, {}}; };
    if (command == p_.chipId) return shown(ShowChipId(context.core, streams_.out));
    if (command == p_.version) return shown(ShowFirmwareVersion(context.core, streams_.out));
    flashWork_ = true;
    if (command == p_.update) return UpdateFirmware(context);
    if (command == p_.verify) return VerifyFlash(context);
    if (command == p_.blankCheck) return BlankCheckFlash(context, size);
    if (command == p_.erase) return EraseWholeFlash(context);
    return ReadBack(context, size);
  }

  CommandResult ReadBack(const CommandContext& context, std::optional<std::uint32_t> size) {
    const bool text = o_.format == "text";
    std::uint32_t bytes = size.value_or(kReadBackSize);
    // The text dump is made of whole lines of sixteen bytes.
    if (text) bytes = std::min<std::uint32_t>((bytes + 15) / 16 * 16, kFlashAddressSpace);
    CommandResult result = ReadBackFlash(context, bytes, size.has_value());
    context.progress.Finish();
    // A failed or stopped read gives no dump: filler bytes must never pass for flash contents.
    if (result.exit != kExitSuccess) {
      if (result.exit != kExitUsage) {
        result.message += (result.message.empty() ? "" : ". ") +
                          std::string("nothing was written") +
                          (o_.outPath.empty() ? "" : ", '" + o_.outPath + "' is as it was");
      }
      return result;
    }
    const std::span<const std::uint8_t> read(context.core.ReadBackBuffer.data(), bytes);
    std::string dump = text ? FormatReadBackDump(read, bytes)
                            : std::string(reinterpret_cast<const char*>(read.data()), read.size());
    if (!o_.outPath.empty()) {
      const std::string error = WriteFileAtomically(o_.outPath, dump);
      return error.empty() ? CommandResult{} : CommandResult{kExitUsage, error};
    }
    // Lines ended by a bare carriage return would overwrite each other on a terminal.
    if (text && streams_.outIsTerminal) std::replace(dump.begin(), dump.end(), '\r', '\n');
    streams_.out << dump << std::flush;
    if (!streams_.out) return {kExitUsage, "cannot write the read-back data"};
    return {};
  }

  Parsed& p_;
  Options& o_;
  const ToolStreams& streams_;
  const ToolHooks& hooks_;
  bool flashWork_ = false;  // a flash operation ran: its modelled time is worth showing
};

}  // namespace

int RunQvTool(const std::vector<std::string>& args, const ToolStreams& streams,
              const ToolHooks& hooks) {
  Options options;
  Parsed parsed = BuildParser(options);
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    parsed.app->parse(reversed);
  } catch (const CLI::CallForHelp& help) {
    return parsed.app->exit(help, streams.out, streams.err) == 0 ? kExitSuccess : kExitUsage;
  } catch (const CLI::CallForVersion& version) {
    return parsed.app->exit(version, streams.out, streams.err) == 0 ? kExitSuccess : kExitUsage;
  } catch (const CLI::ParseError& error) {
    // A mistyped command is the commonest slip; name it instead of the parser's own words.
    if (parsed.app->get_subcommands().empty()) {
      const auto word = FirstCommandWord(args, *parsed.app);
      const std::string commands = "commands: " + CommandList(*parsed.app) + " (qvtool --help)";
      return Fail(
          streams, kExitUsage,
          word ? "unknown command '" + *word + "'; " + commands : "no command given; " + commands);
    }
    return parsed.app->exit(error, streams.out, streams.err) == 0 ? kExitSuccess : kExitUsage;
  }
  return Tool(parsed, options, streams, hooks).Run();
}

}  // namespace qv::cli
