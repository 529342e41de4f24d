#include "cli/QvTool.h"

#include <algorithm>
#include <optional>

#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/DevicePorts.h"
#include "cli/DeviceSelection.h"
#include "cli/FirmwareFiles.h"
#include "cli/OwnedDevice.h"
#include "cli/Prompt.h"
#include "cli/Report.h"
#include "cli/RequestTrace.h"
#include "sim/CaptureReplay.h"
#include "util/AtomicFile.h"
#include "util/FilePaths.h"
#include "util/StreamedFile.h"

namespace qv::cli {
namespace {

// Why the files of the command line must not be used, before anything is sent: two of them that
// are one file on disk (the one would overwrite the other, or the trace a backup), or a file to
// be written that cannot be, or firmware that an output would replace (unless forced). The
// tool's own files (--log, --capture, a replayed capture) are among them when the command sends
// requests.
std::optional<std::string> FileProblem(const std::vector<NamedFile>& named,
                                       const std::vector<NamedFile>& toolFiles, bool force) {
  std::vector<NamedFile> files;
  for (const NamedFile& file : named)
    if (file.use != NamedFile::Use::kAppended) files.push_back(file);
  files.insert(files.end(), toolFiles.begin(), toolFiles.end());
  for (const NamedFile& file : named)
    if (file.use == NamedFile::Use::kAppended) files.push_back(file);
  for (std::size_t i = 0; i < files.size(); ++i)
    for (std::size_t j = i + 1; j < files.size(); ++j)
      if (SameFile(files[i].path, files[j].path))
        return QuotedPath(files[j].path) + " is given as " + files[i].as + " and as " +
               files[j].as + ": one would overwrite the other. Give each its own file";
  for (const NamedFile& file : files) {
    if (file.use == NamedFile::Use::kRead) continue;
    if (std::string error = CheckWritable(file.path); !error.empty())
      return std::string(file.as) + ": " + error;
    if (auto firmware = FirmwareAtOutput(file.path); firmware && !force)
      return std::string(file.as) + ": " + *firmware;
  }
  return std::nullopt;
}

// The files the tool itself writes or reads beside the command's: the trace's --log, the
// --capture, and the capture a replay answers from.
std::vector<NamedFile> ToolFiles(const GlobalOptions& options) {
  std::vector<NamedFile> files;
  if (!options.logPath.empty())
    files.push_back({options.logPath, "--log", NamedFile::Use::kWritten});
  if (!options.capturePath.empty())
    files.push_back({options.capturePath, "--capture", NamedFile::Use::kWritten});
  if (const auto replay =
          options.simulate ? sim::ParseReplaySetup(*options.simulate) : std::nullopt;
      replay && replay->error.empty())
    files.push_back({replay->file, "--simulate=replay", NamedFile::Use::kRead});
  return files;
}

// A file the tool writes as the run goes, opened before anything is sent.
struct RunFile {
  std::optional<StreamedFile> file;
  StreamedFile* Get() { return file ? &*file : nullptr; }
};

// One run of one command of the table: parse (done), find the row (done), check, ports and trace,
// the device when the row needs one, ask, run, report.
class Tool {
 public:
  Tool(const DeclaredCommand& given, const GlobalOptions& options, const ToolStreams& streams,
       const ToolHooks& hooks)
      : command_(*given.given),
        words_(given.row->words),
        options_(options),
        streams_(streams),
        hooks_(hooks),
        report_(streams, options.json) {}

  int Run() {
    report_.Document()["command"] = std::string(words_);
    // Everything the user can get wrong is reported before anything is sent.
    if (auto error = command_.Check()) return report_.End(kExitUsage, *error);
    const Needs needs = command_.Need();
    // Without ports there is no conversation to log or capture.
    const std::vector<NamedFile> toolFiles =
        needs == Needs::kNothing ? std::vector<NamedFile>() : ToolFiles(options_);
    if (auto problem = FileProblem(command_.Files(), toolFiles, options_.force))
      return report_.End(kExitUsage, *problem);
    if (auto problem = command_.Load(report_)) return report_.End(kExitUsage, *problem);
    CommandRun run{report_, streams_, options_, hooks_.interrupts};
    if (needs == Needs::kNothing) return Finish(command_.Run(run), run);

    PortsResult ports = hooks_.ports        ? hooks_.ports(options_.simulate)
                        : options_.simulate ? SimulatedPorts(*options_.simulate)
                                            : RealPorts();
    if (!ports.ports)
      return report_.End(options_.simulate ? kExitUsage : kExitNoDevice, ports.error);

    // The capture sees what the devices see, under the trace: -v to standard error, --log to a
    // file. Both are written as the requests go.
    RunFile capture;
    RunFile log;
    for (const auto& [path, as, file] : {std::tuple{&options_.capturePath, "--capture", &capture},
                                         std::tuple{&options_.logPath, "--log", &log}}) {
      if (path->empty()) continue;
      file->file.emplace(*path);
      if (!file->file->Ready())
        return report_.End(kExitUsage, std::string(as) + ": " + file->file->Error());
    }
    if (capture.file)
      ports.ports = CapturedPorts(std::move(ports.ports), *capture.Get(), ports.kind);
    std::vector<std::ostream*> traceOuts;
    if (options_.verbose) traceOuts.push_back(&streams_.err);
    std::optional<RequestTrace> trace;
    if (!traceOuts.empty() || log.file) trace.emplace(ports.ports->Io(), traceOuts, log.Get());
    run.ports = ports.ports.get();
    run.io = trace ? static_cast<DeviceIo*>(&*trace) : &ports.ports->Io();
    run.trace = trace ? &*trace : nullptr;
    int code = OnPorts(run, needs);
    for (const auto& [as, file] : {std::pair{"--capture", &capture}, std::pair{"--log", &log}}) {
      if (!file->file || file->file->Error().empty()) continue;
      streams_.err << "qvtool: " << as << ": " << file->file->Error() << '\n';
      if (code == kExitSuccess) code = kExitUsage;
    }
    return code;
  }

 private:
  int OnPorts(CommandRun& run, Needs needs) {
    DevicePorts& ports = *run.ports;
    CoreState core(*run.io, ports.Interfaces(), ports.DeviceClock());
    const std::vector<PresentDevice> present = FindPresentDevices(ports.Interfaces());
    run.core = &core;
    run.present = &present;
    if (needs == Needs::kPorts) return Finish(command_.Run(run), run);

    const Selection selection = SelectDevice(present, options_.device);
    if (!selection.device)
      return EndOnPorts(run, selection.ambiguous ? kExitUsage : kExitNoDevice, selection.message);
    const PresentDevice& device = *selection.device;
    report_.Document()["device"] = DeviceJson(device, run.Simulated());
    if (const std::string* file = command_.FileForTheModel(); file && !options_.force)
      if (auto mismatch = ModelMismatch(*file, device.matchText))
        return EndOnPorts(run, kExitUsage, *mismatch);
    const OwnedDevice owned = OwnDevice(ports, device);
    if (owned.refusal) return EndOnPorts(run, owned.refusal->exit, owned.refusal->message);
    if (!ProbePresentDevice(core.UsbDevice, device)) {
      const std::string problem = ports.OpenProblem(device.path);
      return EndOnPorts(
          run, kExitNoDevice,
          problem.empty() ? "the device does not answer: " + DescribeDevice(device) : problem);
    }
    run.device = &device;
    if (const std::optional<Question> question = command_.Ask()) {
      if (question->namesDevice) report_.Out() << "Device: " << DescribeDevice(device) << std::endl;
      const Answer answer = options_.yes
                                ? Answer::kYes
                                : Confirm(streams_, report_, hooks_.interrupts, question->warning);
      if (answer == Answer::kStopped)
        return EndOnPorts(run, kExitInterrupted, kStoppedAtQuestionText);
      if (answer == Answer::kNo) {
        if (question->declinedAsStep) {
          ProgressBar(report_.Out(), !report_.Json() && streams_.outIsTerminal, streams_.columns)
              .ReportStatus({.step = FlashStep::kResult,
                             .kind = FlashEvent::Kind::kFailure,
                             .text = question->declined});
        } else {
          report_.Out() << question->declined << std::endl;
        }
        return EndOnPorts(run, kExitFailed, report_.Json() ? question->error : "");
      }
    }
    return Finish(command_.Run(run), run);
  }

  // A replay the tool's requests left ends the run with its own code, whatever the tool made of
  // the refusal that followed (no device, no answer).
  int EndOnPorts(const CommandRun& run, int exit, const std::string& message) {
    if (const std::string mismatch = ReplayMismatch(run); !mismatch.empty())
      return report_.End(kExitReplay, "replay: " + mismatch);
    return report_.End(exit, message);
  }
  static std::string ReplayMismatch(const CommandRun& run) {
    SimulationView* simulation = run.ports ? run.ports->Simulation() : nullptr;
    return simulation ? simulation->ReplayMismatch() : std::string();
  }

  // A simulated flash that could not be kept in its file makes any result worthless, and so does
  // a replay the tool's requests left.
  int Finish(const CommandResult& result, const CommandRun& run) {
    if (const std::string mismatch = ReplayMismatch(run); !mismatch.empty())
      return report_.End(kExitReplay, "replay: " + mismatch);
    if (SimulationView* simulation = run.ports ? run.ports->Simulation() : nullptr)
      if (const std::string fileError = simulation->FileError(); !fileError.empty())
        return report_.End(kExitUsage, "simulator: " + fileError);
    return report_.End(result.exit, result.message, result.warning);
  }

  GivenCommand& command_;
  std::string_view words_;
  const GlobalOptions& options_;
  const ToolStreams& streams_;
  const ToolHooks& hooks_;
  Report report_;
};

}  // namespace

int RunQvTool(const std::vector<std::string>& args, const ToolStreams& streams,
              const ToolHooks& hooks) {
  CommandLine line;
  CLI::App& app = line.App();
  const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
  try {
    line.Parse(args);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help, streams.out, streams.err) == 0 ? kExitSuccess : kExitUsage;
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version, streams.out, streams.err) == 0 ? kExitSuccess : kExitUsage;
  } catch (const CLI::ParseError& error) {
    Report report(streams, json);
    // The commonest slips, a setup after a blank and a mistyped command, are named instead of
    // the parser's own words.
    if (auto setup = SetupAfterABlank(args)) return report.End(kExitUsage, *setup);
    const auto given = app.get_subcommands();
    if (given.empty()) {
      const auto word = FirstCommandWord(args);
      const std::string commands = "commands: " + CommandList(app) + " (qvtool --help)";
      return report.End(kExitUsage, word ? "unknown command '" + *word + "'; " + commands
                                         : "no command given; " + commands);
    }
    if (!line.Given()) {  // a group without one of its commands
      return report.End(kExitUsage, "'" + given.front()->get_name() +
                                        "' needs one of: " + CommandList(*given.front()));
    }
    if (json) return report.End(kExitUsage, error.what());
    return app.exit(error, streams.out, streams.err) == 0 ? kExitSuccess : kExitUsage;
  }
  int code = kExitSuccess;
  try {
    const GlobalOptions options = line.Options();
    code = Tool(*line.Given(), options, streams, hooks).Run();
  } catch (const std::exception& error) {
    // Device failures are results, never exceptions: what reaches here is the file system's or
    // the memory's, and still ends in one report with a code that says the run failed.
    code = Report(streams, json).End(kExitUsage, error.what());
  }
  // A report that could not be written (a full disk, a closed pipe, a closed terminal) is no
  // success to show; by now the device is safe, whatever the output met.
  streams.out.flush();
  streams.err.flush();
  if (!streams.out && code != kExitInterrupted) {
    streams.err << "qvtool: standard output could not be written (the command ended with exit "
                << code << ")\n";
    return kExitUsage;
  }
  if (!streams.err && code == kExitSuccess) return kExitUsage;
  return code;
}

}  // namespace qv::cli
