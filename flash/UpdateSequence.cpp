#include "flash/UpdateSequence.h"

#include "flash/FlashOperations.h"

namespace qv {
namespace {

using Style = UpdateProgress::Style;

constexpr std::uint32_t kErasePauseMs = 10;
constexpr int kErasePolls = 1000;
constexpr std::uint32_t kRetryPauseMs = 1000;

// The chip erase of an attempt, polled with its dots in the status line.
bool EraseAll(CoreState& core, UpdateProgress& progress) {
  progress.Status(EraseAllText(0), Style::kNormal);
  FlashWriteEnable(core.UsbDevice);
  FlashChipErase(core.UsbDevice);
  core.clock.Sleep(kErasePauseMs);
  for (int poll = 0; poll < kErasePolls; ++poll) {
    const std::uint8_t status = FlashReadStatus(core.UsbDevice);
    progress.Status(EraseAllText(poll), Style::kNormal);
    progress.ProcessMessages();
    if (!(status & kFlashStatusBusy)) return true;
    core.clock.Sleep(kErasePauseMs);
  }
  return false;
}

// One step of an attempt: its start text, the operation, and its success text when it passed.
template <typename Operation>
void Step(CoreState& core, UpdateProgress& progress, const char* startText, const char* successText,
          Operation operation) {
  if (core.SequenceFailed) return;
  progress.Status(startText, Style::kNormal);
  core.SequenceFailed = operation() ? 0 : 1;
  if (!core.SequenceFailed) progress.Status(successText, Style::kNormal);
}

}  // namespace

bool RunOneClickUpdate(CoreState& core, UpdateProgress& progress) {
  QuorvexUsb& usb = core.UsbDevice;
  const std::uint32_t start = 0;
  const std::uint32_t end = core.FlashImage.Length;
  // An empty image is no firmware: erasing the device for it would leave the device without any.
  if (end == 0) {
    core.SequenceFailed = 1;
    progress.Status("Firmware update Fail!", Style::kFailure);
    return false;
  }

  progress.Status("Enter ISP Mode", Style::kNormal);
  progress.ProcessMessages();
  usb.Open();
  SetIspMode(usb, true);
  ChipSetUp(core);

  for (int attempt = 0; attempt < kUpdateAttempts;) {
    core.SequenceFailed = 0;
    progress.Status("Clear Status register", Style::kNormal);
    ClearStatusRegister(core);
    if (!EraseAll(core, progress)) {
      progress.Status("Erase Flash Fail", Style::kNormal);
      core.SequenceFailed = 1;
    }
    usb.Open();
    Step(core, progress, "Start Blanking Check", "Blanking Success",
         [&] { return BlankCheckRange(core, progress, start, end); });
    Step(core, progress, "Start Programming", "Programming Success",
         [&] { return ProgramRange(core, progress, start, end); });
    Step(core, progress, "Start Verifying Check", "Verifying Success",
         [&] { return VerifyRange(core, progress, start, end); });
    ++attempt;
    if (!core.SequenceFailed) break;
    progress.Status("ISP Fail and retry", Style::kRetry);
    progress.ProcessMessages();
    core.clock.Sleep(kRetryPauseMs);
    progress.RetryOver();
  }

  ProtectFlash(core);
  SetIspMode(usb, false);
  usb.Close();
  const bool success = !core.SequenceFailed;
  progress.Status(success ? "Firmware update success!" : "Firmware update Fail!",
                  success ? Style::kSuccess : Style::kFailure);
  return success;
}

}  // namespace qv
