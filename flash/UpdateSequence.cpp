#include "flash/UpdateSequence.h"

#include "flash/FlashOperations.h"

namespace qv {
namespace {

using Style = UpdateProgress::Style;
using Kind = FlashEvent::Kind;

// The retry text stands for a second, so the user sees that an attempt failed.
constexpr std::uint32_t kRetryPauseMs = 1000;

// The chip erase of an attempt, polled with its dots in the status line. An erase instruction
// that did not arrive erased nothing, so there is nothing to wait for: the erase failed.
bool EraseAll(CoreState& core, UpdateProgress& progress) {
  const auto show = [&](int poll) {
    progress.ReportStatus(
        {.step = FlashStep::kErase, .kind = Kind::kStart, .text = EraseAllText(poll)});
  };
  show(0);
  if (!FlashWriteEnable(core.UsbDevice) || !FlashChipErase(core.UsbDevice)) return false;
  return PollErase(core, progress, [&](int poll, std::uint8_t) { show(poll); });
}

// Opens the device, enters ISP mode and identifies the flash, each sent whatever the one before
// answered, as the sequence has always sent them; true when all three succeeded.
bool SetUpIsp(CoreState& core) {
  const bool opened = core.UsbDevice.Open();
  const bool entered = SetIspMode(core.UsbDevice, true);
  const bool identified = ChipSetUp(core);
  return opened && entered && identified;
}

// One step of an attempt: its start text, the operation, and its success text when it passed.
template <typename Operation>
void Step(CoreState& core, UpdateProgress& progress, FlashStep step, const char* startText,
          const char* successText, Operation operation) {
  if (core.SequenceFailed) return;
  progress.ReportStatus({.step = step, .kind = Kind::kStart, .text = startText});
  core.SequenceFailed = operation() ? 0 : 1;
  if (!core.SequenceFailed)
    progress.ReportStatus({.step = step, .kind = Kind::kSuccess, .text = successText});
}

// The final text: success, or failure whatever ended the update.
void ReportResult(UpdateProgress& progress, bool success) {
  progress.ReportStatus({.step = FlashStep::kResult,
                         .kind = success ? Kind::kSuccess : Kind::kFailure,
                         .text = success ? "Firmware update success!" : "Firmware update Fail!"});
}

}  // namespace

void UpdateProgress::ReportStatus(const FlashEvent& event) {
  Status(event.text, StatusStyle(event));
}

Style StatusStyle(const FlashEvent& event) {
  if (event.step == FlashStep::kRetry) return Style::kRetry;
  if (event.step != FlashStep::kResult) return Style::kNormal;
  return event.kind == Kind::kSuccess ? Style::kSuccess : Style::kFailure;
}

UpdateResult RunOneClickUpdate(CoreState& core, UpdateProgress& progress,
                               const UpdateChecks& checks) {
  QuorvexUsb& usb = core.UsbDevice;
  const std::uint32_t start = 0;
  // The image is fixed now: a file loaded while the update runs is not what it writes.
  const CoreState::ImageSnapshot image = core.SnapshotProgramImage();
  const std::uint32_t end = image.length;
  UpdateResult result;
  // An empty image is no firmware: erasing the device for it would leave the device without any.
  if (end == 0) {
    core.SequenceFailed = 1;
    ReportResult(progress, false);
    return result;
  }

  progress.ReportStatus(
      {.step = FlashStep::kIspEnter, .kind = Kind::kStart, .text = "Enter ISP Mode"});
  progress.ProcessMessages();
  bool setUp = SetUpIsp(core);
  if (checks.beforeErase) {
    // The caller's check asks a part that did not answer again and refuses what it cannot
    // trust: past it, the part is known.
    if (auto reason = checks.beforeErase(core))
      result.reason = std::move(*reason);
    else
      setUp = true;
  }
  if (result.reason.empty() && progress.StopRequested()) result.stopped = true;

  for (int attempt = 0; attempt < kUpdateAttempts && result.reason.empty() && !result.stopped;) {
    // An attempt whose set-up failed fails before its erase: erasing with the page size and write
    // method of an earlier identification could leave a device erased that no attempt programs.
    core.SequenceFailed = setUp ? 0 : 1;
    if (setUp) {
      progress.ReportStatus(
          {.step = FlashStep::kClearStatus, .kind = Kind::kStart, .text = "Clear Status register"});
      ClearStatusRegister(core);
      if (checks.afterClear) {
        if (auto reason = checks.afterClear(core)) {
          result.reason = std::move(*reason);
          break;
        }
      }
      result.erased = true;
      if (!EraseAll(core, progress)) {
        progress.ReportStatus(
            {.step = FlashStep::kErase, .kind = Kind::kFailure, .text = "Erase Flash Fail"});
        core.SequenceFailed = 1;
      }
      usb.Open();
      Step(core, progress, FlashStep::kBlankCheck, "Start Blanking Check", "Blanking Success",
           [&] { return BlankCheckRange(core, progress, start, end); });
      Step(core, progress, FlashStep::kProgram, "Start Programming", "Programming Success",
           [&] { return ProgramRange(core, progress, image.bytes, start, end); });
      Step(core, progress, FlashStep::kVerify, "Start Verifying Check", "Verifying Success",
           [&] { return VerifyRange(core, progress, image.bytes, start, end); });
    }
    ++attempt;
    if (!core.SequenceFailed) break;
    // A device that has left cannot be tried again; only one that is there gets its attempts.
    if (usb.Unreachable()) break;
    if (progress.StopRequested()) {
      result.stopped = true;
      break;
    }
    if (checks.beforeRetry) {
      if (auto reason = checks.beforeRetry(core)) {
        result.reason = std::move(*reason);
        break;
      }
    }
    progress.ReportStatus(
        {.step = FlashStep::kRetry, .kind = Kind::kFailure, .text = "ISP Fail and retry"});
    progress.ProcessMessages();
    core.clock.Sleep(kRetryPauseMs);
    progress.RetryOver();
    // The next attempt knows its part: a set-up that failed is made again, identification first.
    if (!setUp) setUp = SetUpIsp(core);
  }
  if (!result.reason.empty() || result.stopped) core.SequenceFailed = 1;

  // A stop can come while a page program is still under way; a busy flash would ignore the
  // protection. A flash whose status register was never cleared is left as it was.
  if (result.stopped && result.erased) StatusWait(core);
  const bool isProtected = !result.erased || ProtectFlash(core);
  const bool leftIsp = SetIspMode(usb, false);
  result.secured = isProtected && leftIsp;
  usb.Close();
  if (checks.beforeResult) {
    if (auto reason = checks.beforeResult(core)) {
      if (result.reason.empty()) result.reason = std::move(*reason);
      core.SequenceFailed = 1;
    }
  }
  result.success = !core.SequenceFailed;
  ReportResult(progress, result.success);
  return result;
}

}  // namespace qv
