#include "cli/Commands.h"

#include "chip/FlashParts.h"
#include "chip/IspFlash.h"
#include "chip/RegisterMap.h"
#include "chip/Registers.h"
#include "cli/QvTool.h"
#include "flash/FlashOperations.h"
#include "util/AtomicFile.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

using Kind = FlashEvent::Kind;

constexpr std::uint32_t kBlankCheckSize = 0x40000;

// Open, ISP mode, the operation, leaving ISP mode, close: whatever the operation returns.
template <typename Operation>
CommandResult InIspMode(CoreState& core, Operation operation) {
  QuorvexUsb& usb = core.UsbDevice;
  usb.Open();
  SetIspMode(usb, true);
  const CommandResult result = operation();
  SetIspMode(usb, false);
  usb.Close();
  return result;
}

// An operation between its start text and, when it passed, its success text, as the ISP page's
// buttons show them; a failure leaves the operation's own text.
template <typename Operation>
bool RunStep(ProgressBar& progress, FlashStep step, const char* startText, const char* successText,
             Operation operation) {
  progress.ReportStatus({.step = step, .kind = Kind::kStart, .text = startText});
  const bool passed = operation();
  if (passed) progress.ReportStatus({.step = step, .kind = Kind::kSuccess, .text = successText});
  return passed;
}

std::string Hex(std::uint64_t value) {
  return "0x" + FormatHex(value, 1);
}

// A size past the identified flash's end would wrap inside the part: refused, with the limit.
std::optional<std::string> PastTheFlash(const CoreState& core, std::uint64_t size,
                                        const char* what) {
  const FlashGeometry geometry = DescribeFlash(core.FlashChipId);
  if (!geometry.size || size <= *geometry.size) return std::nullopt;
  return std::string(what) + " " + Hex(size) +
         " is past the end of the flash: " + DescribeFlashId(core.FlashChipId) + " holds " +
         Hex(*geometry.size) + " bytes";
}

// Why the flash cannot be used: it does not answer its identification; `consequence` says what
// follows from that ("nothing was erased").
std::string NotAnswering(const CoreState& core, const char* consequence) {
  return "the flash does not answer its identification (" + FormatHexBytes(core.FlashChipId) +
         "): " + consequence + ". Check the device, or pass --force to go on anyway";
}

// One disturbed request must not end an update that has not begun: a flash that seems not to
// answer is asked once more before it is taken for absent. True when it answered.
bool IdentifiedAgainIfNeeded(CoreState& core) {
  if (FlashAnswered(core.FlashChipId)) return true;
  ChipSetUp(core);
  return FlashAnswered(core.FlashChipId);
}

// The whole flash by the identified part, or `size` bytes of it; why not when neither tells.
// `sizeHint` says how the user gives the size when the part does not tell it.
std::optional<std::string> BackupSize(const CoreState& core, std::optional<std::uint32_t> size,
                                      std::uint32_t& bytes, const char* sizeHint) {
  if (size) {
    bytes = *size;
    return PastTheFlash(core, *size, "--size");
  }
  const FlashGeometry geometry = DescribeFlash(core.FlashChipId);
  if (!geometry.size)
    return "the size of the flash " + DescribeFlashId(core.FlashChipId) +
           " is unknown: " + sizeHint;
  bytes = *geometry.size;
  return std::nullopt;
}

// After the status register was cleared: why the flash is still protected, if it is. A flash
// whose block-protect bits stay set ignores an erase, so nothing may count as erased then.
std::optional<std::string> StillProtected(CoreState& core) {
  const std::uint8_t status = FlashReadStatus(core.UsbDevice);
  if (status == kFlashStatusUnknown)
    return std::string("the flash's status could not be read after its protection was cleared");
  if (status & kFlashStatusBusy)
    return "the flash stays busy (status 0x" + FormatHex(status, 2) +
           ") and took no status write. Unplug the device and plug it in again";
  if ((status & kFlashStatusBlockProtect) == 0) return std::nullopt;
  return "the flash stays write-protected (status 0x" + FormatHex(status, 2) +
         "): its write-protect pin holds the protection, or the status write did not arrive";
}

// The flash a read or a comparison may trust: it answers its identification (unless forced) and
// is not busy, since a busy part answers reads with bytes that are not its contents. The flash
// is identified already.
std::optional<CommandResult> NotReadable(const CommandContext& context) {
  CoreState& core = context.core;
  if (!IdentifiedAgainIfNeeded(core) && !context.force)
    return CommandResult{kExitFailed, NotAnswering(core, "what it reads cannot be trusted")};
  if (!StatusWait(core))
    return CommandResult{kExitFailed,
                         "the flash stays busy: what it reads cannot be trusted. Unplug the "
                         "device and plug it in again"};
  return std::nullopt;
}

// Reads `bytes` of the flash, every block twice, and writes them to `path`; why not, if not.
std::optional<std::string> WriteBackup(CoreState& core, ProgressBar& progress,
                                       const std::string& path, std::uint32_t bytes) {
  progress.ReportStatus({.step = FlashStep::kBackup,
                         .kind = Kind::kStart,
                         .text = "Reading the flash for the backup"});
  if (!ReadBackRange(core, progress, 0, bytes, kBackupScanTexts)) {
    if (progress.StopRequested()) return "stopped";
    return "the backup could not be read (a block read differently twice, or a request failed)";
  }
  const std::string error =
      WriteFileAtomically(path, {reinterpret_cast<const char*>(core.ReadBackBuffer.data()), bytes});
  if (!error.empty()) return error;
  progress.ReportStatus(
      {.step = FlashStep::kBackup, .kind = Kind::kSuccess, .text = "Backup Success"});
  return std::nullopt;
}

// A backup to write back must be the whole identified flash: a shorter one would leave the rest
// erased, and a flash of unknown size cannot tell. Past the flash it is refused even when forced.
std::optional<std::string> NotAWholeBackup(const CoreState& core, bool force) {
  const std::uint32_t length = core.WholeFlashLength;
  const FlashGeometry geometry = DescribeFlash(core.FlashChipId);
  if (geometry.size && length > *geometry.size)
    return "the backup holds " + Hex(length) +
           " bytes, past the end of the flash: " + DescribeFlashId(core.FlashChipId) + " holds " +
           Hex(*geometry.size);
  if (force) return std::nullopt;
  if (!geometry.size)
    return "the size of the flash " + DescribeFlashId(core.FlashChipId) +
           " is unknown, so whether the backup is whole cannot be told. Pass --force to write "
           "it anyway";
  if (length == *geometry.size) return std::nullopt;
  return "the backup holds " + Hex(length) + " bytes, and a whole backup of the flash " +
         DescribeFlashId(core.FlashChipId) + " holds " + Hex(*geometry.size) +
         ". Pass --force to write it anyway";
}

constexpr const char* kGoneText = "the device is gone (unplugged or reset during the command)";

// The result of a flash command that ran: success, or failure with the reason the device gives
// (gone) and Ctrl-C's exit code when it was stopped.
CommandResult Outcome(const CommandContext& context, bool passed, const std::string& state = {}) {
  if (passed) return {};
  if (context.progress.StopRequested())
    return {kExitInterrupted, "stopped" + (state.empty() ? std::string(".") : ": " + state)};
  std::string message = StillPresent(context.interfaces, context.device) ? "" : kGoneText;
  if (!state.empty()) message += (message.empty() ? "" : ". ") + state;
  return {kExitFailed, message};
}

}  // namespace

CommandResult UpdateFirmware(const CommandContext& context) {
  CoreState& core = context.core;
  // A refusal before the erase is the device's (1), unless the file does not fit the flash (2).
  int refusal = kExitFailed;
  const auto refusedFile = [&](std::string why) {
    refusal = kExitUsage;
    return why;
  };
  UpdateChecks checks;
  checks.beforeErase = [&](CoreState& c) -> std::optional<std::string> {
    if (!StillPresent(context.interfaces, context.device)) return kGoneText;
    if (!IdentifiedAgainIfNeeded(c) && !context.force) return NotAnswering(c, "nothing was erased");
    if (auto past = PastTheFlash(c, c.ProgramLength(), "the image of"))
      return refusedFile(*past + ": nothing was erased");
    if (!c.WholeFlash.empty()) {
      if (auto problem = NotAWholeBackup(c, context.force)) return refusedFile(*problem);
    }
    // The backup comes before the erase, in the same ISP session; without it nothing is
    // erased.
    if (!context.backupPath.empty()) {
      std::uint32_t bytes = 0;
      if (auto problem = BackupSize(c, std::nullopt, bytes,
                                    "back it up first with 'qvtool backup --size N FILE', then "
                                    "update without --backup"))
        return "no backup: " + *problem + "; nothing was erased";
      if (auto problem = WriteBackup(c, context.progress, context.backupPath, bytes))
        return "no backup: " + *problem + "; nothing was erased";
    }
    return std::nullopt;
  };
  checks.afterClear = [&](CoreState& c) -> std::optional<std::string> {
    // A flash that stays protected ignores the erase: the attempt would fail for that alone.
    // Forced, the update goes on as with a flash that does not answer.
    if (context.force) return std::nullopt;
    return StillProtected(c);
  };
  checks.beforeRetry = [&](const CoreState&) -> std::optional<std::string> {
    if (StillPresent(context.interfaces, context.device)) return std::nullopt;
    return kGoneText;
  };
  const UpdateResult result = RunOneClickUpdate(core, context.progress, checks);
  context.progress.Finish();
  if (result.success) {
    if (result.secured) return {};
    return {kExitSuccess,
            "the firmware is written and verified, but the flash could not be "
            "write-protected again or ISP mode not left; unplug the device and plug it in again",
            true};
  }
  const std::string state =
      result.erased ? "The flash is incomplete and the device will not start from it: run the "
                      "update again"
                    : "The flash was not changed";
  const std::string secured = result.secured ? "; it is write-protected and out of ISP mode" : "";
  if (result.stopped) return {kExitInterrupted, "stopped. " + state + secured};
  std::string reason = result.reason;
  if (reason.empty() && !StillPresent(context.interfaces, context.device)) reason = kGoneText;
  const int exit = result.erased ? kExitFailed : refusal;
  if (!reason.empty()) return {exit, reason + ". " + state + secured};
  return {exit, state + secured};
}

CommandResult VerifyFlash(const CommandContext& context) {
  CoreState& core = context.core;
  return InIspMode(core, [&]() -> CommandResult {
    ChipSetUp(core);
    if (auto problem = NotReadable(context)) return *problem;
    // A firmware file, or a backup of the whole flash.
    const std::uint32_t length = core.ProgramLength();
    if (auto past = PastTheFlash(core, length, "the file of")) return {kExitUsage, *past};
    const bool passed = RunStep(
        context.progress, FlashStep::kVerify, "Start Verifying Check", "Verifying Success",
        [&] { return VerifyRange(core, context.progress, core.ProgramImage(), 0, length); });
    return Outcome(context, passed);
  });
}

CommandResult BlankCheckFlash(const CommandContext& context, std::optional<std::uint32_t> size) {
  CoreState& core = context.core;
  return InIspMode(core, [&]() -> CommandResult {
    ChipSetUp(core);
    if (size) {
      if (auto past = PastTheFlash(core, *size, "--size")) return {kExitUsage, *past};
    }
    if (auto problem = NotReadable(context)) return *problem;
    const bool passed = RunStep(
        context.progress, FlashStep::kBlankCheck, "Start Blanking Check", "Blanking Success",
        [&] { return BlankCheckRange(core, context.progress, 0, size.value_or(kBlankCheckSize)); });
    return Outcome(context, passed);
  });
}

CommandResult EraseWholeFlash(const CommandContext& context) {
  CoreState& core = context.core;
  return InIspMode(core, [&]() -> CommandResult {
    // The protect value depends on the chip's write mode.
    ChipSetUp(core);
    if (!IdentifiedAgainIfNeeded(core) && !context.force)
      return {kExitFailed, NotAnswering(core, "nothing was erased")};
    context.progress.ReportStatus(
        {.step = FlashStep::kClearStatus, .kind = Kind::kStart, .text = "Clear Status register"});
    ClearStatusRegister(core);
    // A flash that stays protected ignores the erase and still reads "not busy" at once: it
    // would pass for erased.
    if (auto protection = context.force ? std::nullopt : StillProtected(core)) {
      context.progress.Finish();
      return {kExitFailed, *protection + "; nothing was erased"};
    }
    const bool finished = EraseFlash(core, context.progress, EraseMode::kChip);
    // The erase closed the connection; the chip is still in ISP mode.
    core.UsbDevice.Open();
    // Only a flash that reads erased is: the whole part, or what the tool always checks.
    const std::uint32_t size = DescribeFlash(core.FlashChipId).size.value_or(kBlankCheckSize);
    const bool erased =
        finished && RunStep(context.progress, FlashStep::kBlankCheck, "Start Blanking Check",
                            "Blanking Success",
                            [&] { return BlankCheckRange(core, context.progress, 0, size); });
    if (erased)
      context.progress.ReportStatus(
          {.step = FlashStep::kErase, .kind = Kind::kSuccess, .text = "Erase Success"});
    const bool isProtected = ProtectFlash(core);
    context.progress.Finish();
    // A chip erase runs to its end once started, and is waited for also after a Ctrl-C; the
    // check after it is what a Ctrl-C stops.
    const char* state = erased                             ? ""
                        : !finished                        ? "the flash is not erased"
                        : context.progress.StopRequested() ? "the erase was not checked"
                                                           : "the flash does not read erased";
    CommandResult result = Outcome(context, erased, state);
    if (result.exit == kExitSuccess && !isProtected)
      return {kExitSuccess,
              "the flash is erased, but it could not be write-protected again; unplug "
              "the device and plug it in again",
              true};
    return result;
  });
}

CommandResult ReadBackFlash(const CommandContext& context, std::uint32_t given, std::uint32_t bytes,
                            bool sizeGiven) {
  CoreState& core = context.core;
  return InIspMode(core, [&]() -> CommandResult {
    ChipSetUp(core);
    if (sizeGiven) {
      if (auto past = PastTheFlash(core, given, "--size")) return {kExitUsage, *past};
    }
    if (auto problem = NotReadable(context)) return *problem;
    const bool passed = RunStep(context.progress, FlashStep::kReadBack, "Read Flash data back",
                                "Read Flash content Success",
                                [&] { return ReadBackRange(core, context.progress, 0, bytes); });
    return Outcome(context, passed);
  });
}

CommandResult BackUpFlash(const CommandContext& context, const std::string& path,
                          std::optional<std::uint32_t> size) {
  CoreState& core = context.core;
  return InIspMode(core, [&]() -> CommandResult {
    ChipSetUp(core);
    if (auto problem = NotReadable(context)) return *problem;
    std::uint32_t bytes = 0;
    if (auto problem = BackupSize(core, size, bytes, "give it with --size"))
      return {kExitUsage, *problem};
    if (auto problem = WriteBackup(core, context.progress, path, bytes)) {
      context.progress.Finish();
      if (context.progress.StopRequested())
        return {kExitInterrupted, "stopped: nothing was written"};
      CommandResult failed = Outcome(context, false);
      failed.message = *problem + (failed.message.empty() ? "" : ". " + failed.message) +
                       "; nothing was written";
      return failed;
    }
    context.progress.Finish();
    return {};
  });
}

void SetWholeFlash(CoreState& core, std::vector<std::uint8_t> bytes) {
  core.WholeFlashLength = static_cast<std::uint32_t>(bytes.size());
  // Whole pages, so the last page's copy stays inside; the bytes after the backup are erased.
  bytes.resize((bytes.size() + 255) / 256 * 256, 0xFF);
  core.WholeFlash = std::move(bytes);
}

CommandResult ShowChipId(const CommandContext& context, std::ostream& out) {
  CoreState& core = context.core;
  QuorvexUsb& usb = core.UsbDevice;
  usb.Open();
  SetIspMode(usb, true);
  const bool read = FlashReadId(usb, core.FlashChipId);
  SetIspMode(usb, false);
  usb.Close();
  if (!read) return {kExitFailed, "the flash did not answer its identification"};
  // FF FF FF is what an absent or silent flash leaves on the bus: no identification at all.
  if (!FlashAnswered(core.FlashChipId) && !context.force)
    return {kExitFailed, NotAnswering(core, "no flash was identified")};
  for (std::uint8_t byte : core.FlashChipId) out << "0x" << FormatHex(byte, 2) << ",  ";
  out << "\nflash: " << DescribeFlashId(core.FlashChipId) << '\n';
  return {};
}

bool ShowFirmwareVersion(CoreState& core, std::ostream& out) {
  QuorvexUsb& usb = core.UsbDevice;
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  usb.Open();
  // A failed read would show a version the device never reported.
  const bool read = SelectRegisterBank(usb, chip::bank::kMailbox) &&
                    ReadRegister(usb, chip::mailbox::kVersionMajor, &major) &&
                    ReadRegister(usb, chip::mailbox::kVersionMinor, &minor);
  usb.Close();
  if (!read) return false;
  out << "Current Firmware:V" << unsigned{major} << '.' << unsigned{minor} << '\n';
  return true;
}

}  // namespace qv::cli
