// The ISP page's bulk flash operations: erase, blank check, program, verify and read back.

#include "app/Unit1.h"
#include "flash/FlashOperations.h"
#include "flash/FormProgress.h"
#include "util/AtomicFile.h"

namespace qv {

void TForm1::btnUSBEraseClick(ui::Control&) {
  DeviceActivity activity(app);
  if (!activity) return;
  if (rbnRange1->Checked() && !app.RangeError.empty()) {
    lblUSBProcessInfo->SetCaption(app.RangeError);
    return;
  }
  FormProgress progress(*this);
  EraseFlash(core, progress, rbnRange0->Checked() ? EraseMode::kChip : EraseMode::kSectors);
}

namespace {

using RangeOperation = bool (*)(CoreState&, FlashProgress&, std::span<const std::uint8_t> image,
                                std::uint32_t start, std::uint32_t end);

// Blank check, program and verify over the operation range, each bracketed by its texts and by
// opening and closing the connection. The range and the image are taken as they stand at the
// click, so a polling tick that reloads the file meanwhile changes neither.
void RunRangeOperation(TForm1& form, FlashStep step, const char* startText, const char* successText,
                       RangeOperation operation) {
  DeviceActivity activity(form.app);
  if (!activity) return;
  if (form.RangeRefused(false)) return;
  const auto [start, end] = form.OperationRange();
  const CoreState::ImageSnapshot image = form.core.SnapshotProgramImage();
  FormProgress progress(form);
  progress.Report({.step = step, .kind = FlashEvent::Kind::kStart, .text = startText});
  form.core.UsbDevice.Open();
  if (operation(form.core, progress, image.bytes, start, end))
    progress.Report({.step = step, .kind = FlashEvent::Kind::kSuccess, .text = successText});
  form.core.UsbDevice.Close();
}

bool BlankCheck(CoreState& core, FlashProgress& progress, std::span<const std::uint8_t>,
                std::uint32_t start, std::uint32_t end) {
  return BlankCheckRange(core, progress, start, end);
}

}  // namespace

void TForm1::btnUSBBlankClick(ui::Control&) {
  RunRangeOperation(*this, FlashStep::kBlankCheck, "Start Blanking Check", "Blanking Success",
                    BlankCheck);
}

void TForm1::btnUSBProgramClick(ui::Control&) {
  RunRangeOperation(*this, FlashStep::kProgram, "Start Programming...", "Programming Success",
                    ProgramRange);
}

void TForm1::btnUSBVerifyClick(ui::Control&) {
  RunRangeOperation(*this, FlashStep::kVerify, "Start Verifying Check", "Verifying Success",
                    VerifyRange);
}

void TForm1::btnReadBackClick(ui::Control&) {
  DeviceActivity activity(app);
  if (!activity) return;
  FormProgress progress(*this);
  progress.Report({.step = FlashStep::kReadBack,
                   .kind = FlashEvent::Kind::kStart,
                   .text = "Read Flash data back"});
  core.UsbDevice.Open();
  const bool result = ReadBackRange(core, progress, 0, kReadBackSize);
  // The dump is offered whatever the result; a cancelled dialog or a file that cannot be
  // created writes nothing; an interrupted write leaves an earlier file whole.
  if (SaveBinFIleDialog->Execute(shell))
    WriteFileAtomically(SaveBinFIleDialog->FileName(),
                        FormatReadBackDump(core.ReadBackBuffer, kReadBackSize));
  if (result)
    progress.Report({.step = FlashStep::kReadBack,
                     .kind = FlashEvent::Kind::kSuccess,
                     .text = "Read Flash content Success"});
  core.UsbDevice.Close();
}

}  // namespace qv
