#include "cli/UpdateAll.h"

#include <algorithm>
#include <memory>
#include <thread>

#include "cli/Commands.h"
#include "cli/FirmwareFiles.h"
#include "cli/OwnedDevice.h"
#include "cli/ProgressBoard.h"
#include "cli/Prompt.h"
#include "flash/CoreState.h"
#include "flash/UpdateSequence.h"

namespace qv::cli {
namespace {

// One device of the run and how its update went.
struct DeviceRun {
  const PresentDevice* device = nullptr;
  std::string label;  // "Brevanto RX1 1-2": the name, and what tells it apart from its twins
  ProgressRow* row = nullptr;
  Clock* clock = nullptr;  // the device's own, fetched before the threads start
  DeviceOutcome outcome;
};

// Devices of one name are told apart by the part of their paths in which they differ.
std::string Label(const PresentDevice& device, const std::vector<const PresentDevice*>& chosen) {
  std::vector<const PresentDevice*> twins;
  for (const PresentDevice* other : chosen)
    if (other->name == device.name) twins.push_back(other);
  return twins.size() < 2 ? device.name : device.name + " " + DistinguishingPart(device, twins);
}

std::string Table(const std::vector<DeviceRun>& runs) {
  std::size_t labelWidth = std::string_view("device").size();
  std::size_t resultWidth = std::string_view("result").size();
  for (const DeviceRun& run : runs) {
    labelWidth = std::max(labelWidth, run.label.size());
    resultWidth = std::max(resultWidth, ResultText(run.outcome).size());
  }
  const auto row = [&](const std::string& label, const std::string& result,
                       const std::string& time) {
    std::string line = label;
    line.resize(labelWidth + 2, ' ');
    line += result;
    line.resize(labelWidth + 2 + resultWidth + 2, ' ');
    return line + time + '\n';
  };
  std::string text = row("device", "result", "time");
  for (const DeviceRun& run : runs)
    text += row(run.label, ResultText(run.outcome), Seconds(run.outcome.time));
  return text;
}

}  // namespace

std::vector<const PresentDevice*> DevicesOfModel(const std::vector<PresentDevice>& present,
                                                 const DeviceModel& model,
                                                 const std::optional<std::string>& wanted) {
  std::vector<const PresentDevice*> chosen;
  for (const PresentDevice& device : present) {
    const bool named = wanted && DeviceMatches(device, *wanted);
    if (device.useAudioDriver ? device.matchText == FieldText(model.MatchText) && (!wanted || named)
                              : named)
      chosen.push_back(&device);
  }
  return chosen;
}

std::optional<std::string> NoModelNamed(const std::string& what, const std::string& file,
                                        const DeviceModel*& model) {
  model = ModelOfFileName(file);
  if (model) return std::nullopt;
  return what + " of the model the file is named for, and " + DisplayName(file) +
         " carries no model's name (Brevanto_RX1.hex, ...)";
}

std::string DeviceCount(std::uint64_t n) {
  return std::to_string(n) + (n == 1 ? " device" : " devices");
}

std::string ResultText(const DeviceOutcome& outcome) {
  if (outcome.result.exit == kExitSuccess) return "Firmware update success!";
  std::string text = "Firmware update Fail!";
  // The result only sums up the failures before it.
  if (const Step* failure = TellingFailure(outcome.steps);
      failure && failure->event.step != FlashStep::kResult)
    text += " " + failure->event.text;
  return text;
}

DeviceOutcome UpdateOneDevice(const DeviceUpdateContext& context, const PresentDevice& device,
                              ProgressRow& row, bool terminal, int columns, Clock& clock,
                              const std::function<void(const DeviceOutcome&)>& beforeResult) {
  DeviceOutcome outcome;
  auto core = std::make_unique<CoreState>(context.io, context.ports.Interfaces(), clock);
  const auto started = clock.Now();
  const auto elapsed = [&clock, started] { return clock.Now() - started; };
  ProgressBar progress(row, terminal, columns, context.interrupts);
  progress.RecordSteps(&outcome.steps, elapsed);
  if (beforeResult) progress.HoldResult();
  const OwnedDevice owned = OwnDevice(context.ports, device);
  if (owned.refusal) {
    outcome.result = *owned.refusal;
    progress.ReportStatus({.step = FlashStep::kProbe,
                           .kind = FlashEvent::Kind::kFailure,
                           .text = outcome.result.message});
  } else if (!ProbePresentDevice(core->UsbDevice, device)) {
    const std::string problem = context.ports.OpenProblem(device.path);
    outcome.result = {kExitFailed, problem.empty() ? "the device does not answer" : problem};
    progress.ReportStatus({.step = FlashStep::kProbe,
                           .kind = FlashEvent::Kind::kFailure,
                           .text = outcome.result.message});
  } else {
    core->FlashImage = context.image;
    const CommandContext command{*core,  progress,      context.ports.Interfaces(),
                                 device, context.force, {}};
    outcome.result = UpdateFirmware(command);
  }
  outcome.time = elapsed();
  if (beforeResult) {
    beforeResult(outcome);
    progress.ShowResult();
  }
  return outcome;
}

CommandResult UpdateAll(const UpdateAllRequest& request, const ToolStreams& streams,
                        Report& report) {
  const DeviceModel* model = nullptr;
  if (auto problem = NoModelNamed("update --all updates every device", request.file, model))
    return {kExitUsage, *problem};
  // A --device that names nothing present is a mistake to point out, not a device to skip.
  if (request.wanted) {
    const Selection named = SelectDevice(request.present, request.wanted);
    if (!named.device && !named.ambiguous) return {kExitNoDevice, named.message};
  }
  const std::vector<const PresentDevice*> chosen =
      DevicesOfModel(request.present, *model, request.wanted);
  if (chosen.empty() && request.wanted)
    return {kExitUsage, "--device '" + *request.wanted + "' names no " +
                            std::string(ModelName(*model)) + ", the model " +
                            DisplayName(request.file) +
                            " is for, and no device in firmware-update mode"};
  if (chosen.empty()) {
    std::string message = "no " + std::string(ModelName(*model)) + " is present";
    if (request.present.empty()) message += ", nor any other device";
    for (const PresentDevice& device : request.present) message += "\n  " + DescribeDevice(device);
    return {kExitNoDevice, message};
  }

  std::vector<DeviceRun> runs(chosen.size());
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    runs[i].device = chosen[i];
    runs[i].label = Label(*chosen[i], chosen);
    report.Out() << "Device: " << DescribeDevice(*chosen[i]) << '\n';
  }
  const std::string count = DeviceCount(runs.size());
  const Answer answer = request.yes ? Answer::kYes
                                    : Confirm(streams, report, request.interrupts,
                                              kUpdateWarningText, "Update " + count + "?");
  if (answer == Answer::kStopped) return {kExitInterrupted, kStoppedAtQuestionText};
  if (answer == Answer::kNo) {
    report.Out() << kUpdateAbortedText << ": nothing was sent." << std::endl;
    return {kExitFailed, report.Json() ? kUpdateAbortedText : ""};
  }

  const bool terminal = !report.Json() && streams.outIsTerminal && streams.outMovesCursor;
  ProgressBoard board(report.Out(), terminal, streams.columns, streams.measureColumns);
  for (DeviceRun& run : runs) {
    run.row = &board.AddRow(run.label);
    if (request.trace) request.trace->Label(run.device->path, run.label);
  }
  // Every device's clock is fetched here, on one thread, before the devices start.
  for (DeviceRun& run : runs) run.clock = &ClockOfDevice(request.ports, run.device->path);
  board.Start();
  const DeviceUpdateContext context{request.ports, request.io, request.image, request.force,
                                    request.interrupts};
  {
    std::vector<std::jthread> threads;
    for (DeviceRun& run : runs)
      threads.emplace_back([&context, &board, &run] {
        run.outcome = UpdateOneDevice(context, *run.device, *run.row, board.Terminal(),
                                      board.RowColumns(), *run.clock);
      });
  }

  report.Out() << '\n' << Table(runs);
  for (const DeviceRun& run : runs)
    if (!run.outcome.result.message.empty())
      report.Out() << run.label << ": " << (run.outcome.result.warning ? "warning: " : "")
                   << run.outcome.result.message << '\n';

  nlohmann::json devices = nlohmann::json::array();
  bool failed = false, stopped = false;
  for (const DeviceRun& run : runs) {
    nlohmann::json entry = DeviceJson(*run.device, request.ports.Simulation() != nullptr);
    entry["label"] = run.label;
    entry["result"] = ResultWord(run.outcome.result.exit);
    entry["exit"] = run.outcome.result.exit;
    entry["seconds"] = SecondsValue(run.outcome.time);
    if (!run.outcome.result.message.empty())
      entry[run.outcome.result.warning ? "warning" : "error"] = run.outcome.result.message;
    AddSteps(entry, run.outcome.steps, run.outcome.time);
    devices.push_back(entry);
    failed = failed || (run.outcome.result.exit != kExitSuccess &&
                        run.outcome.result.exit != kExitInterrupted);
    stopped = stopped || run.outcome.result.exit == kExitInterrupted;
  }
  report.Document()["devices"] = devices;
  const std::size_t updated =
      static_cast<std::size_t>(std::count_if(runs.begin(), runs.end(), [](const DeviceRun& r) {
        return r.outcome.result.exit == kExitSuccess;
      }));
  const std::string summary = std::to_string(updated) + " of " + count + " updated";
  report.Document()["result"] = summary;
  if (failed) return {kExitFailed, summary};
  if (stopped) return {kExitInterrupted, "stopped: " + summary};
  return {};
}

}  // namespace qv::cli
