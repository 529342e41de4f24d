// The flash commands: update, read, verify, blank-check, erase, backup and restore. Their bodies
// over the flash cores are in Commands.cpp; here is what each takes from the command line and
// what is shown around them.

#include <algorithm>
#include <memory>
#include <span>

#include "cli/CommandTable.h"
#include "cli/FirmwareFiles.h"
#include "cli/Station.h"
#include "cli/UpdateAll.h"
#include "flash/FlashOperations.h"
#include "flash/UpdateSequence.h"
#include "util/AtomicFile.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

constexpr const char* kFileHelp =
    "Firmware file: Intel HEX (named .hex, or any name holding HEX text) or raw binary";

constexpr const char* kRestoreWarningText =
    "Restore erases the whole flash and writes the backup in its place. Please make sure the "
    "power stays on and do not disconnect the device before it is complete. Would you like to "
    "proceed?";

// --size as typed, and the number of bytes from address 0 it stands for.
struct SizeOption {
  std::string text;
  std::optional<std::uint32_t> bytes;

  void Declare(CLI::App& command, const char* help) {
    command.add_option("--size", text, help)->type_name("N");
  }
  // The flash's 24-bit address space is the widest any size can be.
  std::optional<std::string> Check() {
    if (text.empty()) return std::nullopt;
    const auto value = ParseNumber(text, kFlashAddressSpace);
    if (!value || *value == 0)
      return std::string(
          "--size needs a number of bytes from 1 to 0x1000000, the flash's address space "
          "(decimal, or hex after 0x)");
    bytes = static_cast<std::uint32_t>(*value);
    return std::nullopt;
  }
};

// A flash command's work with its progress on `out`: every step is kept with its time on the
// device (the modelled time where there is one, else the device's clock), and the steps, the
// result and the modelled time go into the document.
template <typename Work>
CommandResult WithSteps(CommandRun& run, std::ostream& out, bool terminal, Work work,
                        const std::string& backupPath = {}) {
  DevicePorts& ports = *run.ports;
  SimulationView* simulation = ports.Simulation();
  const auto modelledTime = [simulation]() -> std::optional<std::chrono::microseconds> {
    if (!simulation) return std::nullopt;
    return simulation->ModelledTime();
  };
  const auto started = modelledTime();
  const auto deviceNow = [&ports, &modelledTime] {
    return modelledTime().value_or(ports.DeviceClock().Now());
  };
  const auto stepsStarted = deviceNow();
  const auto clockNow = [&deviceNow, stepsStarted] { return deviceNow() - stepsStarted; };
  std::vector<Step> steps;
  CommandResult result;
  {
    ProgressBar progress(out, terminal, run.streams.columns, run.interrupts);
    progress.RecordSteps(&steps, clockNow);
    const CommandContext context{*run.core,   progress,          ports.Interfaces(),
                                 *run.device, run.options.force, backupPath};
    result = work(context);
  }
  const auto finished = modelledTime();
  AddSteps(run.report.Document(), steps, clockNow());
  run.report.Document()["result"] = ResultWord(result.exit);
  if (result.exit != kExitUsage && started && finished) {
    out << "modelled device time " << Seconds(*finished - *started) << std::endl;
    run.report.Document()["modelledSeconds"] = SecondsValue(*finished - *started);
  }
  return result;
}

// The progress of most flash commands: standard output, drawn in place on a terminal.
template <typename Work>
CommandResult WithSteps(CommandRun& run, Work work, const std::string& backupPath = {}) {
  return WithSteps(run, run.report.Out(), !run.report.Json() && run.streams.outIsTerminal, work,
                   backupPath);
}

// A loaded file's refusal, or its note shown.
std::optional<std::string> NoteOf(const FirmwareLoad& loaded, Report& report) {
  if (!loaded.result) return loaded.result.Message();
  if (!loaded.note.empty()) report.Talk() << loaded.note << std::endl;
  return std::nullopt;
}

// update

struct UpdateParameters {
  std::string file, backupPath, recordPath, countText;
  bool all = false, watch = false;
  bool recordToOut = false;  // `--record -`
  std::string sha256;        // of the firmware file
  std::optional<std::uint64_t> count;
  std::unique_ptr<FlashImage> image;
};

void DeclareUpdate(CLI::App& command, UpdateParameters& p) {
  Positional(command, "FILE", p.file, kFileHelp);
  command
      .add_option("--backup", p.backupPath,
                  "First read the whole flash into this file; no backup, no update")
      ->type_name("FILE");
  command.add_flag("--all", p.all,
                   "Update every present device of the model the file is named for, side by "
                   "side; --device narrows them, and names a device in firmware-update mode");
  command.add_flag("--watch", p.watch,
                   "A bench: update each device of the model the file is named for as it is "
                   "plugged in, until Ctrl-C (or --count devices)");
  command
      .add_option("--record", p.recordPath,
                  "With --watch: add a JSON line for each finished device to this file, synced "
                  "line by line (- is standard output)")
      ->type_name("FILE")
      ->check(CLI::Validator(
          [](const std::string& name) {
            return name.empty() ? std::string("an empty name names no file") : std::string();
          },
          "FILE"));
  command.add_option("--count", p.countText, "With --watch: end after this many devices")
      ->type_name("N");
}

std::optional<std::string> CheckUpdate(UpdateParameters& p) {
  if ((p.all || p.watch) && !p.backupPath.empty())
    return "--backup keeps one device's flash: update the devices one by one to back each up, or "
           "update them together without --backup";
  if (p.all && p.watch)
    return "--all updates the devices present now and --watch those plugged in from now on: "
           "give one of them";
  if (!p.watch && (!p.recordPath.empty() || !p.countText.empty()))
    return "--record and --count go with update --watch";
  // Standard output, which the tool holds open already: not a file named "-".
  if (p.recordPath == "-") {
    p.recordToOut = true;
    p.recordPath.clear();
  }
  if (!p.countText.empty()) {
    const auto n = ParseNumber(p.countText, 1'000'000'000);
    if (!n || *n == 0) return "--count needs a number of devices of 1 or more";
    p.count = *n;
  }
  return std::nullopt;
}

std::optional<std::string> LoadUpdate(UpdateParameters& p, Report& report) {
  p.image = std::make_unique<FlashImage>();
  const FirmwareLoad loaded = LoadFirmware(*p.image, p.file);
  p.sha256 = loaded.sha256;
  return NoteOf(loaded, report);
}

CommandResult Update(UpdateParameters& p, CommandRun& run) {
  if (p.watch) {
    const StationRequest request{
        .ports = *run.ports,
        .io = *run.io,
        .trace = run.trace,
        .wanted = run.options.device,
        .image = *p.image,
        .file = p.file,
        .fileSha256 = p.sha256,
        .recordPath = p.recordPath,
        .recordToOut = p.recordToOut,
        .count = p.count,
        .yes = run.options.yes,
        .force = run.options.force,
        .interrupts = run.interrupts,
    };
    return RunStation(request, run.streams, run.report);
  }
  if (p.all) {
    const UpdateAllRequest request{
        .ports = *run.ports,
        .io = *run.io,
        .trace = run.trace,
        .present = *run.present,
        .wanted = run.options.device,
        .image = *p.image,
        .file = p.file,
        .yes = run.options.yes,
        .force = run.options.force,
        .interrupts = run.interrupts,
    };
    return UpdateAll(request, run.streams, run.report);
  }
  run.core->FlashImage = *p.image;
  return WithSteps(run, UpdateFirmware, p.backupPath);
}

// read

struct ReadParameters {
  SizeOption size;
  std::string outPath;
  std::string format = "text";
};

void DeclareRead(CLI::App& command, ReadParameters& p) {
  p.size.Declare(command, "Bytes to read from address 0 (default 0x8000)");
  command
      .add_option("--out", p.outPath,
                  "Write to this file, replaced only by a complete read, instead of standard "
                  "output (- is standard output)")
      ->type_name("FILE");
  command
      .add_option("--format", p.format,
                  "text: lines of sixteen 0xNN entries, each line ended by a carriage return; "
                  "bin: the raw bytes")
      ->check(CLI::IsMember({"text", "bin"}))
      ->type_name("FORMAT");
}

std::optional<std::string> CheckRead(ReadParameters& p) {
  // "--out -" and "--out /dev/stdout" mean standard output, which the tool holds open already: a
  // second opening of it would write from the start of a file the shell redirected it to.
  if (p.outPath == "-" || p.outPath == "/dev/stdout") p.outPath.clear();
  return p.size.Check();
}

// The read-back dump, to its file or standard output; with --json the document carries it.
CommandResult ReadBack(const ReadParameters& p, CommandRun& run, const CommandContext& context) {
  const bool text = p.format == "text";
  // The text dump is made of whole lines of sixteen bytes; the size given is what is checked
  // against the flash, and the flash's size is a whole number of lines.
  const std::uint32_t given = p.size.bytes.value_or(kReadBackSize);
  const std::uint32_t bytes =
      text ? std::min<std::uint32_t>((given + 15) / 16 * 16, kFlashAddressSpace) : given;
  CommandResult result = ReadBackFlash(context, given, bytes, p.size.bytes.has_value());
  context.progress.Finish();
  // A failed or stopped read gives no dump: filler bytes must never pass for flash contents.
  if (result.exit != kExitSuccess) {
    if (result.exit != kExitUsage) {
      result.message += (result.message.empty() ? "" : "; ") + std::string("nothing was written") +
                        (p.outPath.empty() ? "" : ", '" + p.outPath + "' is as it was");
    }
    return result;
  }
  const std::span<const std::uint8_t> read(context.core.ReadBackBuffer.data(), bytes);
  std::string dump = text ? FormatReadBackDump(read, bytes)
                          : std::string(reinterpret_cast<const char*>(read.data()), read.size());
  Report& report = run.report;
  if (!p.outPath.empty()) {
    const std::string error = WriteFileAtomically(p.outPath, dump);
    if (!error.empty()) return {kExitUsage, error};
    report.Document()["file"] = p.outPath;
    return {};
  }
  if (report.Json()) {
    // The document carries the bytes; standard output holds nothing else.
    report.Document()["bytes"] = std::vector<std::uint8_t>(read.begin(), read.end());
    return {};
  }
  // Lines ended by a bare carriage return would overwrite each other on a terminal.
  if (text && run.streams.outIsTerminal) std::replace(dump.begin(), dump.end(), '\r', '\n');
  run.streams.out << dump << std::flush;
  if (!run.streams.out) return {kExitUsage, "cannot write the read-back data"};
  return {};
}

CommandResult Read(ReadParameters& p, CommandRun& run) {
  const auto work = [&](const CommandContext& context) { return ReadBack(p, run, context); };
  // A dump to standard output keeps it to itself: the progress goes to standard error.
  if (p.outPath.empty())
    return WithSteps(run, run.streams.err, !run.report.Json() && run.streams.errIsTerminal, work);
  return WithSteps(run, work);
}

// verify

struct VerifyParameters {
  std::string file;
  std::unique_ptr<FlashImage> image;
  std::vector<std::uint8_t> wholeFlash;  // a backup of a whole flash, compared instead
};

void DeclareVerify(CLI::App& command, VerifyParameters& p) {
  Positional(command, "FILE", p.file, kFileHelp);
}

std::optional<std::string> LoadVerify(VerifyParameters& p, Report& report) {
  p.image = std::make_unique<FlashImage>();
  return NoteOf(LoadFileToCompare(*p.image, p.wholeFlash, p.file), report);
}

CommandResult Verify(VerifyParameters& p, CommandRun& run) {
  run.core->FlashImage = *p.image;
  if (!p.wholeFlash.empty()) SetWholeFlash(*run.core, std::move(p.wholeFlash));
  return WithSteps(run, VerifyFlash);
}

// blank-check, erase, backup, restore

CommandResult BlankCheck(SizeOption& size, CommandRun& run) {
  return WithSteps(
      run, [&size](const CommandContext& context) { return BlankCheckFlash(context, size.bytes); });
}

struct BackupParameters {
  std::string file;
  SizeOption size;
};

void DeclareBackup(CLI::App& command, BackupParameters& p) {
  Positional(command, "FILE", p.file, "The backup file, replaced only by a complete read");
  p.size.Declare(command, "Bytes to read from address 0 (default: the whole flash)");
}

CommandResult Backup(BackupParameters& p, CommandRun& run) {
  CommandResult result = WithSteps(run, [&p](const CommandContext& context) {
    return BackUpFlash(context, p.file, p.size.bytes);
  });
  if (result.exit == kExitSuccess) run.report.Document()["file"] = p.file;
  return result;
}

struct RestoreParameters {
  std::string file;
  std::vector<std::uint8_t> backup;
};

CommandResult Restore(RestoreParameters& p, CommandRun& run) {
  SetWholeFlash(*run.core, std::move(p.backup));
  // The update's steps, but a restore is not a firmware update to the user who asked for it.
  return WithSteps(run, [](const CommandContext& context) {
    context.progress.NameResult("Restore success!", "Restore Fail!");
    return UpdateFirmware(context);
  });
}

// What update and restore ask, after naming the device, and what a "no" says.
Question BeforeWriting(const char* warning, const char* declined) {
  return {.warning = warning,
          .declined = declined,
          .error = declined,
          .declinedAsStep = true,
          .namesDevice = true};
}

}  // namespace

const CommandFamily& FlashCommands() {
  static const Command kCommands[] = {
      CommandRow<UpdateParameters>{
          .words = "update",
          .help = "Update the firmware: ISP mode, erase, blank check, program and verify (up to "
                  "three attempts), protect",
          .picksDevices = [](const UpdateParameters& p) { return p.all || p.watch; },
          .declare = DeclareUpdate,
          .check = CheckUpdate,
          .files = {{&UpdateParameters::file, "FILE"},
                    {&UpdateParameters::backupPath, "--backup", NamedFile::Use::kWritten},
                    {&UpdateParameters::recordPath, "--record", NamedFile::Use::kAppended}},
          .load = LoadUpdate,
          .forTheDevicesModel = &UpdateParameters::file,
          .question = BeforeWriting(kUpdateWarningText, kUpdateAbortedText),
          .run = Update,
      },
      CommandRow<ReadParameters>{
          .words = "read",
          .help = "Read the flash back, every block twice",
          .declare = DeclareRead,
          .check = CheckRead,
          .files = {{&ReadParameters::outPath, "--out", NamedFile::Use::kWritten}},
          .run = Read,
      },
      CommandRow<VerifyParameters>{
          .words = "verify",
          .help = "Compare the flash with a firmware file",
          .declare = DeclareVerify,
          .files = {{&VerifyParameters::file, "FILE"}},
          .load = LoadVerify,
          .run = Verify,
      },
      CommandRow<SizeOption>{
          .words = "blank-check",
          .help = "Check that the flash is erased",
          .declare =
              [](CLI::App& command, SizeOption& size) {
                size.Declare(command, "Bytes to check from address 0 (default 0x40000)");
              },
          .check = [](SizeOption& size) { return size.Check(); },
          .run = BlankCheck,
      },
      CommandRow<NoParameters>{
          .words = "erase",
          .help = "Erase the whole flash and protect it again",
          .question = Question{.warning = "Erase removes the device's firmware: the device will "
                                          "not start until it is updated again. Would you like "
                                          "to proceed?",
                               .declined = "Erase not confirmed: nothing was sent.",
                               .error = "erase not confirmed"},
          .run = [](NoParameters&, CommandRun& run) { return WithSteps(run, EraseWholeFlash); },
      },
      CommandRow<BackupParameters>{
          .words = "backup",
          .help = "Read the flash (all of it, by the identified part) into a binary file",
          .declare = DeclareBackup,
          .check = [](BackupParameters& p) { return p.size.Check(); },
          .files = {{&BackupParameters::file, "FILE", NamedFile::Use::kWritten}},
          .run = Backup,
      },
      CommandRow<RestoreParameters>{
          .words = "restore",
          .help = "Write a backup back: erase, blank check, program, verify, protect",
          .declare =
              [](CLI::App& command, RestoreParameters& p) {
                Positional(command, "FILE", p.file, "A backup made by backup");
              },
          .files = {{&RestoreParameters::file, "FILE"}},
          .load = [](RestoreParameters& p, Report&) { return ReadBackupFile(p.file, p.backup); },
          .forTheDevicesModel = &RestoreParameters::file,
          .question =
              BeforeWriting(kRestoreWarningText, "Restore not confirmed: nothing was sent."),
          .run = Restore,
      },
  };
  static const CommandFamily kFamily{.groups = {}, .commands = kCommands};
  return kFamily;
}

}  // namespace qv::cli
