// The commands that only tell: the present devices, the flash's identification, the firmware's
// version, a file's user-parameter marker and the models the tool knows.

#include <memory>
#include <sstream>

#include "app/DeviceModels.h"
#include "chip/FlashParts.h"
#include "cli/CommandTable.h"
#include "cli/FirmwareFiles.h"
#include "transport/Protocol.h"
#include "util/FilePaths.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

// Every present device, each probed as discovery does, with why it does not answer if it does
// not.
CommandResult List(NoParameters&, CommandRun& run) {
  Report& report = run.report;
  nlohmann::json devices = nlohmann::json::array();
  for (const PresentDevice& device : *run.present) {
    const bool answered = ProbePresentDevice(run.core->UsbDevice, device);
    const std::string problem = answered ? std::string() : run.ports->OpenProblem(device.path);
    report.Out() << DescribeDevice(device)
                 << (answered          ? ""
                     : problem.empty() ? "  (does not answer)"
                                       : "  (" + problem + ")")
                 << '\n';
    nlohmann::json entry = DeviceJson(device, run.Simulated());
    entry["answers"] = answered;
    if (!problem.empty()) entry["problem"] = problem;
    devices.push_back(entry);
  }
  report.Document()["devices"] = devices;
  if (run.present->empty()) {
    report.Out() << "No device found.\n";
    return {kExitNoDevice, report.Json() ? "No device found." : ""};
  }
  return {};
}

CommandResult ChipId(NoParameters&, CommandRun& run) {
  // The identification shows no progress; its context still has a place for it.
  ProgressBar progress(run.report.Out(), !run.report.Json() && run.streams.outIsTerminal,
                       run.streams.columns, run.interrupts);
  const CommandContext context{*run.core,   progress,          run.ports->Interfaces(),
                               *run.device, run.options.force, {}};
  const CommandResult result = ShowChipId(context, run.report.Out());
  if (result.exit == kExitSuccess) {
    const auto& id = run.core->FlashChipId;
    const FlashGeometry geometry = DescribeFlash(id);
    nlohmann::json& document = run.report.Document();
    document["chipId"] = FormatHexBytes(id);
    document["flash"] = {
        {"known", geometry.part != nullptr},
        {"name", geometry.part ? std::string(geometry.part->name) : std::string()},
        {"size", geometry.size ? nlohmann::json(*geometry.size) : nlohmann::json(nullptr)},
        {"pageSize", geometry.pageSize},
        {"method", geometry.method == ProgramMethod::kWord ? "word" : "page"}};
  }
  return result;
}

CommandResult Version(NoParameters&, CommandRun& run) {
  std::ostringstream text;
  const bool read = ShowFirmwareVersion(*run.core, text);
  run.report.Out() << text.str();
  if (!read) return {kExitFailed, "the firmware's version registers could not be read"};
  std::string line = text.str();
  while (!line.empty() && line.back() == '\n') line.pop_back();
  run.report.Document()["version"] = line.substr(line.find('V') + 1);
  return {};
}

// The user-parameter marker of a file, as the editor page looks for it.
struct CheckFileParameters {
  std::string file;
};

CommandResult CheckFile(CheckFileParameters& p, CommandRun& run) {
  Report& report = run.report;
  auto image = std::make_unique<FlashImage>();
  const auto found = FindMarkerInFile(*image, p.file);
  report.Document()["file"] = p.file;
  if (!found.result) return {kExitUsage, found.result.Message()};
  report.Document()["length"] = image->Length;
  report.Document()["found"] = found.offset.has_value();
  if (!found.offset) {
    report.Out() << DisplayName(p.file) << ": no user-parameter marker\n";
    return {kExitFailed, ""};
  }
  report.Document()["offset"] = *found.offset;
  report.Out() << DisplayName(p.file) << ": user-parameter marker at 0x"
               << FormatHex(*found.offset, 6) << '\n';
  return {};
}

// The model table and the firmware-update ids, as the tool looks for them.
CommandResult Models(NoParameters&, CommandRun& run) {
  Report& report = run.report;
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
  return {};
}

}  // namespace

const CommandFamily& InfoCommands() {
  static const Command kCommands[] = {
      CommandRow<NoParameters>{
          .words = "list",
          .help = "List the present devices",
          .needs = Needs::kPorts,
          .run = List,
      },
      CommandRow<NoParameters>{
          .words = "chip-id",
          .help = "Show the flash chip's identification",
          .run = ChipId,
      },
      CommandRow<NoParameters>{
          .words = "version",
          .help = "Show the device's firmware version",
          .run = Version,
      },
      CommandRow<CheckFileParameters>{
          .words = "check-file",
          .help = "Look for the user-parameter marker in a firmware file, as the editor does",
          .needs = Needs::kNothing,
          .declare =
              [](CLI::App& command, CheckFileParameters& p) {
                Positional(command, "FILE", p.file,
                           "Firmware file: .hex or .h00 (Intel HEX) or .bin");
              },
          .files = {{&CheckFileParameters::file, "FILE"}},
          .run = CheckFile,
      },
      CommandRow<NoParameters>{
          .words = "models",
          .help = "List the models the tool knows, with their ids and firmware file names",
          .needs = Needs::kNothing,
          .run = Models,
      },
  };
  static const CommandFamily kFamily{.groups = {}, .commands = kCommands};
  return kFamily;
}

}  // namespace qv::cli
