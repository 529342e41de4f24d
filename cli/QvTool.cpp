#include "cli/QvTool.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <sstream>

#include "app/DeviceModels.h"
#include "chip/FlashParts.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/DevicePorts.h"
#include "cli/DeviceSelection.h"
#include "cli/FirmwareFiles.h"
#include "cli/MaintenanceCommands.h"
#include "cli/Prompt.h"
#include "cli/Report.h"
#include "cli/RequestTrace.h"
#include "cli/Station.h"
#include "cli/UpdateAll.h"
#include "flash/FlashOperations.h"
#include "transport/Protocol.h"
#include "util/AtomicFile.h"
#include "util/FilePaths.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

// The flash's 24-bit address space is the widest any size can be.
std::optional<std::uint32_t> ParseSize(const std::string& text) {
  const auto value = ParseNumber(text, kFlashAddressSpace);
  if (!value || *value == 0) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

constexpr const char* kEraseWarningText =
    "Erase removes the device's firmware: the device will not start until it is updated again. "
    "Would you like to proceed?";
constexpr const char* kRestoreWarningText =
    "Restore erases the whole flash and writes the backup in its place. Please make sure the "
    "power stays on and do not disconnect the device before it is complete. Would you like to "
    "proceed?";

// The user-parameter marker of a file, as the editor page looks for it: no device needed.
int CheckFile(const std::string& path, Report& report) {
  auto image = std::make_unique<FlashImage>();
  const auto found = FindMarkerInFile(*image, path);
  report.Document()["file"] = path;
  if (!found.result) return report.End(kExitUsage, found.result.Message());
  report.Document()["length"] = image->Length;
  report.Document()["found"] = found.offset.has_value();
  if (!found.offset) {
    report.Out() << DisplayName(path) << ": no user-parameter marker\n";
    return report.End(kExitFailed);
  }
  report.Document()["offset"] = *found.offset;
  report.Out() << DisplayName(path) << ": user-parameter marker at 0x"
               << FormatHex(*found.offset, 6) << '\n';
  return report.End(kExitSuccess);
}

// The model table and the firmware-update ids, as the tool looks for them: no device needed.
int ListModels(Report& report) {
  nlohmann::json models = nlohmann::json::array();
  report.Out() << "model             ids                firmware file\n";
  for (const DeviceModel& model : DeviceModelTable()) {
    std::string name(ModelName(model));
    const std::string match(FieldText(model.MatchText));
    const std::string stem(FieldText(model.FileStem));
    models.push_back({{"name", name}, {"matchText", match}, {"fileStem", stem}});
    name.resize(std::max<std::size_t>(name.size() + 1, 18), ' ');
    std::string ids = match;
    ids.resize(std::max<std::size_t>(ids.size() + 1, 19), ' ');
    report.Out() << name << ids << stem << ".hex or " << stem << ".bin\n";
  }
  report.Out() << "Devices in firmware-update mode present " << protocol::kUpdateMatchE6A4 << " or "
               << protocol::kUpdateMatchE7B2 << " and tell no model.\n";
  report.Document()["models"] = models;
  report.Document()["updateIds"] = {protocol::kUpdateMatchE6A4, protocol::kUpdateMatchE7B2};
  return report.End(kExitSuccess);
}

class Tool {
 public:
  Tool(Parsed& parsed, Options& options, const ToolStreams& streams, const ToolHooks& hooks)
      : p_(parsed), o_(options), streams_(streams), hooks_(hooks), report_(streams, options.json) {}

  int Run() {
    // "--out -" and "--out /dev/stdout" mean standard output, which the tool holds open already:
    // a second opening of it would write from the start of a file the shell redirected it to.
    if (o_.outPath == "-" || o_.outPath == "/dev/stdout") o_.outPath.clear();
    CLI::App* command = GivenCommand(p_);
    report_.Document()["command"] = CommandName(command);
    if (command == p_.checkFile) return CheckFile(o_.file, report_);
    if (command == p_.models) return ListModels(report_);
    const std::optional<Maintenance> maintenance = MaintenanceOf(p_, command);
    const bool needsFile = command == p_.update || command == p_.verify;
    const bool dumpToStdout = command == p_.read && o_.outPath.empty();
    std::ostream& progressOut = dumpToStdout ? streams_.err : report_.Out();

    // Everything the user can get wrong is reported before anything is sent.
    std::optional<std::uint32_t> size;
    if (!o_.size.empty() && !(size = ParseSize(o_.size)))
      return report_.End(kExitUsage,
                         "--size needs a number of bytes from 1 to 0x1000000, the flash's address "
                         "space (decimal, or hex after 0x)");
    if ((o_.all || o_.watch) && !o_.backupPath.empty())
      return report_.End(kExitUsage,
                         "--backup keeps one device's flash: update the devices one by one to "
                         "back each up, or update them together without --backup");
    if (o_.all && o_.watch)
      return report_.End(kExitUsage,
                         "--all updates the devices present now and --watch those plugged in "
                         "from now on: give one of them");
    if (!o_.watch && (!o_.recordPath.empty() || !o_.count.empty()))
      return report_.End(kExitUsage, "--record and --count go with update --watch");
    std::optional<std::uint64_t> count;
    if (!o_.count.empty()) {
      const auto n = ParseNumber(o_.count, 1'000'000'000);
      if (!n || *n == 0)
        return report_.End(kExitUsage, "--count needs a number of devices of 1 or more");
      count = *n;
    }
    count_ = count;
    MaintenanceArgs args;
    if (maintenance) {
      if (auto error = ParseMaintenance(*maintenance, o_.words, args))
        return report_.End(kExitUsage, *error);
    }
    if (auto problem = FileProblem(command)) return report_.End(kExitUsage, *problem);
    auto image = std::make_unique<FlashImage>();
    if (needsFile) {
      const FirmwareLoad loaded = command == p_.verify
                                      ? LoadFileToCompare(*image, wholeFlash_, o_.file)
                                      : LoadFirmware(*image, o_.file);
      if (!loaded.result) return report_.End(kExitUsage, loaded.result.Message());
      if (!loaded.note.empty()) report_.Talk() << loaded.note << std::endl;
    }
    if (command == p_.restore) {
      if (auto problem = ReadBackupFile(o_.file, wholeFlash_))
        return report_.End(kExitUsage, *problem);
    }

    const std::optional<std::string> simulate =
        p_.simulate->count() ? std::optional(o_.simulate) : std::nullopt;
    PortsResult ports = hooks_.ports ? hooks_.ports(simulate)
                        : simulate   ? SimulatedPorts(*simulate)
                                     : RealPorts();
    if (!ports.ports) return report_.End(simulate ? kExitUsage : kExitNoDevice, ports.error);
    const bool simulated = simulate.has_value() || hooks_.ports;

    // The request trace: -v to standard error, --log to a file kept whole.
    std::vector<std::ostream*> traceOuts;
    if (o_.verbose) traceOuts.push_back(&streams_.err);
    std::ostringstream log;
    if (!o_.logPath.empty()) traceOuts.push_back(&log);
    std::optional<RequestTrace> trace;
    if (!traceOuts.empty()) trace.emplace(ports.ports->Io(), traceOuts);
    DeviceIo& io = trace ? static_cast<DeviceIo&>(*trace) : ports.ports->Io();
    const int code =
        RunOnDevice(command, maintenance, args, io, trace ? &*trace : nullptr, *ports.ports,
                    std::move(image), size, simulated, progressOut, dumpToStdout);
    if (!o_.logPath.empty()) {
      const std::string text = log.str();
      const std::string error = WriteFileAtomically(o_.logPath, text);
      if (!error.empty()) {
        streams_.err << "qvtool: --log: " << error << '\n';
        if (code == kExitSuccess) return kExitUsage;
      }
    }
    return code;
  }

 private:
  // Why the files of the command line must not be used, before anything is sent: two of them
  // that are one file on disk (the one would overwrite the other, or the trace a backup), or an
  // output that cannot be written.
  std::optional<std::string> FileProblem(const CLI::App* command) const {
    struct Named {
      std::string path;
      const char* as;
      bool output;
    };
    std::vector<Named> files;
    const bool fileIsOutput = command == p_.backup;
    if (!o_.file.empty()) files.push_back({o_.file, "FILE", fileIsOutput});
    if (!o_.backupPath.empty()) files.push_back({o_.backupPath, "--backup", true});
    if (!o_.outPath.empty()) files.push_back({o_.outPath, "--out", true});
    if (!o_.logPath.empty()) files.push_back({o_.logPath, "--log", true});
    if (!o_.recordPath.empty()) files.push_back({o_.recordPath, "--record", true});
    for (std::size_t i = 0; i < files.size(); ++i)
      for (std::size_t j = i + 1; j < files.size(); ++j)
        if (SameFile(files[i].path, files[j].path))
          return QuotedPath(files[j].path) + " is given as " + files[i].as + " and as " +
                 files[j].as + ": one would overwrite the other. Give each its own file";
    for (const Named& file : files) {
      if (!file.output) continue;
      if (std::string error = CheckWritable(file.path); !error.empty())
        return std::string(file.as) + ": " + error;
    }
    return std::nullopt;
  }

  std::string CommandName(const CLI::App* command) const {
    std::string name;
    for (const CLI::App* c = command; c && c != p_.app.get(); c = c->get_parent())
      name = c->get_name() + (name.empty() ? "" : " " + name);
    return name;
  }

  int RunOnDevice(CLI::App* command, const std::optional<Maintenance>& maintenance,
                  const MaintenanceArgs& args, DeviceIo& io, RequestTrace* trace,
                  DevicePorts& ports, std::unique_ptr<FlashImage> image,
                  std::optional<std::uint32_t> size, bool simulated, std::ostream& progressOut,
                  bool dumpToStdout) {
    CoreState core(io, ports.Interfaces(), ports.DeviceClock());
    const auto present = FindPresentDevices(ports.Interfaces());
    if (command == p_.list) return List(core, ports, present, simulated);
    if (command == p_.update && o_.watch) {
      const StationRequest request{
          .ports = ports,
          .io = io,
          .trace = trace,
          .wanted = p_.device->count() ? std::optional(o_.device) : std::nullopt,
          .image = *image,
          .file = o_.file,
          .recordPath = o_.recordPath,
          .count = count_,
          .yes = o_.yes,
          .force = o_.force,
          .interrupts = hooks_.interrupts,
      };
      return RunStation(request, streams_, report_);
    }
    if (command == p_.update && o_.all) {
      const UpdateAllRequest request{
          .ports = ports,
          .io = io,
          .trace = trace,
          .present = present,
          .wanted = p_.device->count() ? std::optional(o_.device) : std::nullopt,
          .image = *image,
          .file = o_.file,
          .yes = o_.yes,
          .force = o_.force,
          .simulated = simulated,
          .interrupts = hooks_.interrupts,
      };
      return UpdateAll(request, streams_, report_);
    }

    const Selection selection =
        SelectDevice(present, p_.device->count() ? std::optional(o_.device) : std::nullopt);
    if (!selection.device)
      return report_.End(selection.ambiguous ? kExitUsage : kExitNoDevice, selection.message);
    const PresentDevice& device = *selection.device;
    report_.Document()["device"] = DeviceJson(device, simulated);
    if ((command == p_.update || command == p_.restore) && !o_.force) {
      if (auto mismatch = ModelMismatch(o_.file, device.matchText))
        return report_.End(kExitUsage, *mismatch);
    }
    if (!ProbePresentDevice(core.UsbDevice, device)) {
      const std::string problem = ports.OpenProblem(device.path);
      return report_.End(
          kExitNoDevice,
          problem.empty() ? "the device does not answer: " + DescribeDevice(device) : problem);
    }
    core.FlashImage = *image;
    if (!wholeFlash_.empty()) SetWholeFlash(core, std::move(wholeFlash_));

    if (command == p_.update || command == p_.restore) {
      report_.Out() << "Device: " << DescribeDevice(device) << std::endl;
      if (!o_.yes && !Confirm(streams_, report_,
                              command == p_.update ? kUpdateWarningText : kRestoreWarningText)) {
        ProgressBar(report_.Out(), !report_.Json() && streams_.outIsTerminal, streams_.columns)
            .Status(kUpdateAbortedText, UpdateProgress::Style::kFailure);
        return report_.End(kExitFailed, report_.Json() ? kUpdateAbortedText : "");
      }
    }
    if (command == p_.erase && !o_.yes && !Confirm(streams_, report_, kEraseWarningText)) {
      report_.Out() << "Erase not confirmed: nothing was sent." << std::endl;
      return report_.End(kExitFailed, report_.Json() ? "erase not confirmed" : "");
    }
    const std::optional<std::string> question = maintenance ? Question(args) : std::nullopt;
    if (question && !o_.yes && !Confirm(streams_, report_, *question)) {
      report_.Out() << "Not confirmed: nothing was sent." << std::endl;
      return report_.End(kExitFailed, report_.Json() ? "not confirmed" : "");
    }

    if (maintenance) {
      const CommandResult result = RunMaintenance(args, core, report_);
      return report_.End(result.exit, result.message, result.warning);
    }

    const bool progressIsTerminal =
        !report_.Json() && (dumpToStdout ? streams_.errIsTerminal : streams_.outIsTerminal);
    SimulationView* simulation = ports.Simulation();
    const auto modelledTime = [simulation]() -> std::optional<std::chrono::microseconds> {
      if (!simulation) return std::nullopt;
      return simulation->ModelledTime();
    };
    const auto started = modelledTime();
    // Steps take the modelled device time where there is one, else the device's clock.
    const auto deviceNow = [&ports, &modelledTime] {
      return modelledTime().value_or(ports.DeviceClock().Now());
    };
    const auto stepsStarted = deviceNow();
    const auto clockNow = [&deviceNow, stepsStarted] { return deviceNow() - stepsStarted; };
    std::vector<Step> steps;
    CommandResult result;
    const bool flashWork = command != p_.chipId && command != p_.version;
    {
      ProgressBar progress(progressOut, progressIsTerminal, streams_.columns, hooks_.interrupts);
      progress.RecordSteps(&steps, clockNow);
      const CommandContext context{core,   progress, ports.Interfaces(),
                                   device, o_.force, o_.backupPath};
      result = RunCommand(command, context, size);
    }
    const auto finished = modelledTime();
    if (flashWork) {
      AddSteps(report_.Document(), steps, clockNow());
      report_.Document()["result"] = ResultWord(result.exit);
      if (result.exit != kExitUsage && started && finished) {
        progressOut << "modelled device time " << Seconds(*finished - *started) << std::endl;
        report_.Document()["modelledSeconds"] = SecondsValue(*finished - *started);
      }
    }
    if (simulation)
      if (const std::string fileError = simulation->FileError(); !fileError.empty())
        return report_.End(kExitUsage, "simulator: " + fileError);
    return report_.End(result.exit, result.message, result.warning);
  }

  int List(CoreState& core, DevicePorts& ports, const std::vector<PresentDevice>& present,
           bool simulated) {
    nlohmann::json devices = nlohmann::json::array();
    for (const PresentDevice& device : present) {
      const bool answered = ProbePresentDevice(core.UsbDevice, device);
      const std::string problem = answered ? std::string() : ports.OpenProblem(device.path);
      report_.Out() << DescribeDevice(device)
                    << (answered          ? ""
                        : problem.empty() ? "  (does not answer)"
                                          : "  (" + problem + ")")
                    << '\n';
      nlohmann::json entry = DeviceJson(device, simulated);
      entry["answers"] = answered;
      if (!problem.empty()) entry["problem"] = problem;
      devices.push_back(entry);
    }
    report_.Document()["devices"] = devices;
    if (present.empty()) {
      report_.Out() << "No device found.\n";
      return report_.End(kExitNoDevice, report_.Json() ? "No device found." : "");
    }
    return report_.End(kExitSuccess);
  }

  CommandResult RunCommand(CLI::App* command, const CommandContext& context,
                           std::optional<std::uint32_t> size) {
    CoreState& core = context.core;
    const auto shown = [](bool ok, const char* what) {
      return ok ? CommandResult{} : CommandResult{kExitFailed, what};
    };
    if (command == p_.chipId) {
      const CommandResult result = ShowChipId(context, report_.Out());
      if (result.exit == kExitSuccess) {
        const FlashGeometry geometry = DescribeFlash(core.FlashChipId);
        report_.Document()["chipId"] = FormatHexBytes(core.FlashChipId);
        report_.Document()["flash"] = {
            {"known", geometry.part != nullptr},
            {"name", geometry.part ? std::string(geometry.part->name) : std::string()},
            {"size", geometry.size ? nlohmann::json(*geometry.size) : nlohmann::json(nullptr)},
            {"pageSize", geometry.pageSize},
            {"method", geometry.method == ProgramMethod::kWord ? "word" : "page"}};
      }
      return result;
    }
    if (command == p_.version) {
      std::ostringstream text;
      const bool read = ShowFirmwareVersion(core, text);
      report_.Out() << text.str();
      if (read) {
        std::string line = text.str();
        while (!line.empty() && line.back() == '\n') line.pop_back();
        report_.Document()["version"] = line.substr(line.find('V') + 1);
      }
      return shown(read, "the firmware's version registers could not be read");
    }
    if (command == p_.update || command == p_.restore) return UpdateFirmware(context);
    if (command == p_.verify) return VerifyFlash(context);
    if (command == p_.blankCheck) return BlankCheckFlash(context, size);
    if (command == p_.erase) return EraseWholeFlash(context);
    if (command == p_.backup) {
      CommandResult result = BackUpFlash(context, o_.file, size);
      if (result.exit == kExitSuccess) report_.Document()["file"] = o_.file;
      return result;
    }
    return ReadBack(context, size);
  }

  CommandResult ReadBack(const CommandContext& context, std::optional<std::uint32_t> size) {
    const bool text = o_.format == "text";
    // The text dump is made of whole lines of sixteen bytes; the size given is what is checked
    // against the flash, and the flash's size is a whole number of lines.
    const std::uint32_t given = size.value_or(kReadBackSize);
    const std::uint32_t bytes =
        text ? std::min<std::uint32_t>((given + 15) / 16 * 16, kFlashAddressSpace) : given;
    CommandResult result = ReadBackFlash(context, given, bytes, size.has_value());
    context.progress.Finish();
    // A failed or stopped read gives no dump: filler bytes must never pass for flash contents.
    if (result.exit != kExitSuccess) {
      if (result.exit != kExitUsage) {
        result.message += (result.message.empty() ? "" : "; ") +
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
      if (!error.empty()) return {kExitUsage, error};
      report_.Document()["file"] = o_.outPath;
      return {};
    }
    if (report_.Json()) {
      // The document carries the bytes; standard output holds nothing else.
      report_.Document()["bytes"] = std::vector<std::uint8_t>(read.begin(), read.end());
      return {};
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
  Report report_;
  // A backup to write back, or a whole-flash file to compare, until the core takes it.
  std::vector<std::uint8_t> wholeFlash_;
  std::optional<std::uint64_t> count_;  // update --watch --count
};

}  // namespace

int RunQvTool(const std::vector<std::string>& args, const ToolStreams& streams,
              const ToolHooks& hooks) {
  Options options;
  Parsed parsed = BuildParser(options);
  const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
  try {
    const std::vector<std::string> given = TakeSimulateSetup(args, options);
    std::vector<std::string> reversed(given.rbegin(), given.rend());
    parsed.app->parse(reversed);
  } catch (const CLI::CallForHelp& help) {
    return parsed.app->exit(help, streams.out, streams.err) == 0 ? kExitSuccess : kExitUsage;
  } catch (const CLI::CallForVersion& version) {
    return parsed.app->exit(version, streams.out, streams.err) == 0 ? kExitSuccess : kExitUsage;
  } catch (const CLI::ParseError& error) {
    Report report(streams, json);
    // A mistyped command is the commonest slip; name it instead of the parser's own words.
    const auto given = parsed.app->get_subcommands();
    if (given.empty()) {
      const auto word = FirstCommandWord(args);
      const std::string commands = "commands: " + CommandList(*parsed.app) + " (qvtool --help)";
      return report.End(kExitUsage, word ? "unknown command '" + *word + "'; " + commands
                                         : "no command given; " + commands);
    }
    if (!GivenCommand(parsed)) {  // a group without one of its commands
      return report.End(kExitUsage, "'" + given.front()->get_name() +
                                        "' needs one of: " + CommandList(*given.front()));
    }
    if (json) return report.End(kExitUsage, error.what());
    return parsed.app->exit(error, streams.out, streams.err) == 0 ? kExitSuccess : kExitUsage;
  }
  int code = kExitSuccess;
  try {
    code = Tool(parsed, options, streams, hooks).Run();
  } catch (const std::exception& error) {
    // Device failures are results, never exceptions: what reaches here is the file system's or
    // the memory's, and still ends in one report with a code that says the run failed.
    code = Report(streams, json).End(kExitUsage, error.what());
  }
  // A report that could not be written (a full disk, a closed pipe) is no success to show.
  streams.out.flush();
  if (!streams.out && code != kExitInterrupted) {
    streams.err << "qvtool: standard output could not be written (the command ended with exit "
                << code << ")\n";
    return kExitUsage;
  }
  return code;
}

}  // namespace qv::cli
