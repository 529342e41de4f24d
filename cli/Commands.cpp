#include "cli/Commands.h"

#include "chip/FlashParts.h"
#include "chip/IspFlash.h"
#include "chip/RegisterMap.h"
#include "chip/Registers.h"
#include "cli/QvTool.h"
#include "flash/FlashOperations.h"
#include "util/AtomicFile.h"
#include "util/Text.h"

#include <fstream>
#include <iterator>

namespace qv::cli {
namespace {

using Style = UpdateProgress::Style;

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
bool RunStep(ProgressBar& progress, const char* startText, const char* successText,
             Operation operation) {
  progress.Status(startText, Style::kNormal);
  const bool passed = operation();
  if (passed) progress.Status(successText, Style::kNormal);
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

std::string NotAnswering(const CoreState& core) {
  return "the flash does not answer its identification (" + FormatHexBytes(core.FlashChipId) +
         "): nothing was erased. Check the device, or pass --force to go on anyway";
}

// One disturbed request must not end an update that has not begun: a flash that seems not to
// answer is asked once more before it is taken for absent. True when it answered.
bool IdentifiedAgainIfNeeded(CoreState& core) {
  if (FlashAnswered(core.FlashChipId)) return true;
  ChipSetUp(core);
  return FlashAnswered(core.FlashChipId);
}

// The whole flash by the identified part, or `size` bytes of it; why not when neither tells.
std::optional<std::string> BackupSize(const CoreState& core, std::optional<std::uint32_t> size,
                                      std::uint32_t& bytes) {
  if (size) {
    bytes = *size;
    return PastTheFlash(core, *size, "--size");
  }
  const FlashGeometry geometry = DescribeFlash(core.FlashChipId);
  if (!geometry.size)
    return "the size of the flash " + DescribeFlashId(core.FlashChipId) +
           " is unknown: give it with --size";
  bytes = *geometry.size;
  return std::nullopt;
}

// Reads `bytes` of the flash, every block twice, and writes them to `path`; why not, if not.
std::optional<std::string> WriteBackup(CoreState& core, ProgressBar& progress,
                                       const std::string& path, std::uint32_t bytes) {
  progress.Status("Reading the flash for the backup", UpdateProgress::Style::kNormal);
  if (!ReadBackRange(core, progress, 0, bytes))
    return "the backup could not be read (a block read differently twice, or a request failed)";
  const std::string error =
      WriteFileAtomically(path, {reinterpret_cast<const char*>(core.ReadBackBuffer.data()), bytes});
  if (!error.empty()) return error;
  progress.Status("Backup Success", UpdateProgress::Style::kNormal);
  return std::nullopt;
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
  UpdateChecks checks;
  checks.beforeErase = [&](CoreState& c) -> std::optional<std::string> {
    if (!StillPresent(context.interfaces, context.device)) return kGoneText;
    if (!IdentifiedAgainIfNeeded(c) && !context.force) return NotAnswering(c);
    if (auto past = PastTheFlash(c, c.ProgramLength(), "the image of"))
      return *past + ": nothing was erased";
    // The backup comes before the erase, in the same ISP session; without it nothing is
    // erased.
    if (!context.backupPath.empty()) {
      std::uint32_t bytes = 0;
      if (auto problem = BackupSize(c, std::nullopt, bytes))
        return "no backup: " + *problem + "; nothing was erased";
      if (auto problem = WriteBackup(c, context.progress, context.backupPath, bytes))
        return "no backup: " + *problem + "; nothing was erased";
    }
    return std::nullopt;
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
            "warning: the firmware is written and verified, but the flash could not be "
            "write-protected again or ISP mode not left; unplug the device and plug it in again",
            true};
  }
  const std::string state =
      result.erased ? "The flash is incomplete and the device will not start from it: run the "
                      "update again"
                    : "The flash was not changed";
  const std::string secured = result.secured ? "; it is write-protected and out of ISP mode" : "";
  if (result.stopped) return {kExitInterrupted, "stopped. " + state + secured};
  if (!result.reason.empty()) return {kExitFailed, result.reason + ". " + state + secured};
  return {kExitFailed, state + secured};
}

CommandResult VerifyFlash(const CommandContext& context) {
  CoreState& core = context.core;
  return InIspMode(core, [&]() -> CommandResult {
    ChipSetUp(core);
    if (auto past = PastTheFlash(core, core.FlashImage.Length, "the image of"))
      return {kExitUsage, *past};
    const bool passed =
        RunStep(context.progress, "Start Verifying Check", "Verifying Success", [&] {
          return VerifyRange(core, context.progress, core.FlashImage.Data, 0,
                             core.FlashImage.Length);
        });
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
    const bool passed = RunStep(context.progress, "Start Blanking Check", "Blanking Success", [&] {
      return BlankCheckRange(core, context.progress, 0, size.value_or(kBlankCheckSize));
    });
    return Outcome(context, passed);
  });
}

CommandResult EraseWholeFlash(const CommandContext& context) {
  CoreState& core = context.core;
  return InIspMode(core, [&]() -> CommandResult {
    // The protect value depends on the chip's write mode.
    ChipSetUp(core);
    if (!FlashAnswered(core.FlashChipId) && !context.force)
      return {kExitFailed, NotAnswering(core)};
    context.progress.Status("Clear Status register", Style::kNormal);
    ClearStatusRegister(core);
    const bool erased = EraseFlash(core, context.progress, EraseMode::kChip);
    if (erased) context.progress.Status("Erase Success", Style::kNormal);
    // The erase closed the connection; the chip is still in ISP mode.
    core.UsbDevice.Open();
    ProtectFlash(core);
    context.progress.Finish();
    // A chip erase runs to its end once started, and is waited for also after a Ctrl-C.
    return Outcome(context, erased);
  });
}

CommandResult ReadBackFlash(const CommandContext& context, std::uint32_t size, bool sizeGiven) {
  CoreState& core = context.core;
  return InIspMode(core, [&]() -> CommandResult {
    ChipSetUp(core);
    if (sizeGiven) {
      if (auto past = PastTheFlash(core, size, "--size")) return {kExitUsage, *past};
    }
    const bool passed =
        RunStep(context.progress, "Read Flash data back", "Read Flash content Success",
                [&] { return ReadBackRange(core, context.progress, 0, size); });
    return Outcome(context, passed);
  });
}

CommandResult BackUpFlash(const CommandContext& context, const std::string& path,
                          std::optional<std::uint32_t> size) {
  CoreState& core = context.core;
  return InIspMode(core, [&]() -> CommandResult {
    ChipSetUp(core);
    if (!IdentifiedAgainIfNeeded(core) && !context.force)
      return {kExitFailed, "the flash does not answer its identification (" +
                               FormatHexBytes(core.FlashChipId) +
                               "): its contents cannot be trusted. Pass --force to read anyway"};
    std::uint32_t bytes = 0;
    if (auto problem = BackupSize(core, size, bytes)) return {kExitUsage, *problem};
    if (auto problem = WriteBackup(core, context.progress, path, bytes)) {
      context.progress.Finish();
      CommandResult failed = Outcome(context, false);
      failed.message = *problem + (failed.message.empty() ? "" : ". " + failed.message) +
                       "; nothing was written";
      return failed;
    }
    context.progress.Finish();
    return {};
  });
}

CommandResult LoadBackup(CoreState& core, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {kExitUsage, "'" + path + "' cannot be opened"};
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  if (bytes.empty()) return {kExitUsage, "'" + path + "' is empty: no backup to write back"};
  if (bytes.size() > kFlashAddressSpace)
    return {kExitUsage, "'" + path + "' holds " + std::to_string(bytes.size()) +
                            " bytes, more than the flash's address space (16 MiB)"};
  core.WholeFlashLength = static_cast<std::uint32_t>(bytes.size());
  // Whole pages, so the last page's copy stays inside; the bytes after the backup are erased.
  bytes.resize((bytes.size() + 255) / 256 * 256, 0xFF);
  core.WholeFlash = std::move(bytes);
  return {};
}

bool ShowChipId(CoreState& core, std::ostream& out) {
  QuorvexUsb& usb = core.UsbDevice;
  usb.Open();
  SetIspMode(usb, true);
  const bool read = FlashReadId(usb, core.FlashChipId);
  SetIspMode(usb, false);
  usb.Close();
  if (!read) return false;
  for (std::uint8_t byte : core.FlashChipId) out << "0x" << FormatHex(byte, 2) << ",  ";
  out << "\nflash: " << DescribeFlashId(core.FlashChipId) << '\n';
  return true;
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
