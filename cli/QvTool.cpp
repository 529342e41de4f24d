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
#include "util/AtomicFile.h"
#include "util/FilePaths.h"
#include "util/StreamedFile.h"

namespace qv::cli {
namespace {

// Why the files of the command line must not be used, before anything is sent: two of them that
// are one file on disk (the one would overwrite the other, or the trace a backup), or a file to
// be written that cannot be, or firmware that an output would replace (unless forced). The
// trace's --log is one of them when the command has a trace.
std::optional<std::string> FileProblem(const std::vector<NamedFile>& named,
                                       const std::string& logPath, bool force) {
  std::vector<NamedFile> files;
  for (const NamedFile& file : named)
    if (file.use != NamedFile::Use::kAppended) files.push_back(file);
  if (!logPath.empty()) files.push_back({logPath, "--log", NamedFile::Use::kWritten});
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
    // Without ports there is no trace to log.
    const std::string logPath = needs == Needs::kNothing ? std::string() : options_.logPath;
    if (auto problem = FileProblem(command_.Files(), logPath, options_.force))
      return report_.End(kExitUsage, *problem);
    if (auto problem = command_.Load(report_)) return report_.End(kExitUsage, *problem);
    CommandRun run{report_, streams_, options_, hooks_.interrupts};
    if (needs == Needs::kNothing) return Finish(command_.Run(run), run);

    PortsResult ports = hooks_.ports        ? hooks_.ports(options_.simulate)
                        : options_.simulate ? SimulatedPorts(*options_.simulate)
                                            : RealPorts();
    if (!ports.ports)
      return report_.End(options_.simulate ? kExitUsage : kExitNoDevice, ports.error);

    // The request trace: -v to standard error, --log to a file written as the requests go.
    std::vector<std::ostream*> traceOuts;
    if (options_.verbose) traceOuts.push_back(&streams_.err);
    std::optional<StreamedFile> log;
    if (!logPath.empty()) {
      log.emplace(logPath);
      if (!log->Ready()) return report_.End(kExitUsage, "--log: " + log->Error());
    }
    std::optional<RequestTrace> trace;
    if (!traceOuts.empty() || log)
      trace.emplace(ports.ports->Io(), traceOuts, log ? &*log : nullptr);
    run.ports = ports.ports.get();
    run.io = trace ? static_cast<DeviceIo*>(&*trace) : &ports.ports->Io();
    run.trace = trace ? &*trace : nullptr;
    const int code = OnPorts(run, needs);
    if (log && !log->Error().empty()) {
      streams_.err << "qvtool: --log: " << log->Error() << '\n';
      if (code == kExitSuccess) return kExitUsage;
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
      return report_.End(selection.ambiguous ? kExitUsage : kExitNoDevice, selection.message);
    const PresentDevice& device = *selection.device;
    report_.Document()["device"] = DeviceJson(device, run.Simulated());
    if (const std::string* file = command_.FileForTheModel(); file && !options_.force)
      if (auto mismatch = ModelMismatch(*file, device.matchText))
        return report_.End(kExitUsage, *mismatch);
    const OwnedDevice owned = OwnDevice(ports, device);
    if (owned.refusal) return report_.End(owned.refusal->exit, owned.refusal->message);
    if (!ProbePresentDevice(core.UsbDevice, device)) {
      const std::string problem = ports.OpenProblem(device.path);
      return report_.End(
          kExitNoDevice,
          problem.empty() ? "the device does not answer: " + DescribeDevice(device) : problem);
    }
    run.device = &device;
    if (const std::optional<Question> question = command_.Ask()) {
      if (question->namesDevice) report_.Out() << "Device: " << DescribeDevice(device) << std::endl;
      const Answer answer = options_.yes
                                ? Answer::kYes
                                : Confirm(streams_, report_, hooks_.interrupts, question->warning);
      if (answer == Answer::kStopped) return report_.End(kExitInterrupted, kStoppedAtQuestionText);
      if (answer == Answer::kNo) {
        if (question->declinedAsStep) {
          ProgressBar(report_.Out(), !report_.Json() && streams_.outIsTerminal, streams_.columns)
              .ReportStatus({.step = FlashStep::kResult,
                             .kind = FlashEvent::Kind::kFailure,
                             .text = question->declined});
        } else {
          report_.Out() << question->declined << std::endl;
        }
        return report_.End(kExitFailed, report_.Json() ? question->error : "");
      }
    }
    return Finish(command_.Run(run), run);
  }

  // A simulated flash that could not be kept in its file makes any result worthless.
  int Finish(const CommandResult& result, const CommandRun& run) {
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
    // A mistyped command is the commonest slip; name it instead of the parser's own words.
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
