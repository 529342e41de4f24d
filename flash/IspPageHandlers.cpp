// The ISP page's bulk flash operations: erase, blank check, program, verify and read back.
#include <fstream>

#include "app/Unit1.h"
#include "flash/FlashOperations.h"
#include "flash/FormProgress.h"

namespace qv {

void TForm1::btnUSBEraseClick(ui::Control&) {
  FlashActivity activity(app);
  if (!activity) return;
  FormProgress progress(*this);
  EraseFlash(core, progress, rbnRange0->Checked() ? EraseMode::kChip : EraseMode::kSectors);
}

void TForm1::btnUSBBlankClick(ui::Control&) {
  FlashActivity activity(app);
  if (!activity) return;
  FormProgress progress(*this);
  lblUSBProcessInfo->SetCaption("Start Blanking Check");
  core.UsbDevice.Open();
  const auto [start, end] = OperationRange();
  if (BlankCheckRange(core, progress, start, end))
    lblUSBProcessInfo->SetCaption("Blanking Success");
  core.UsbDevice.Close();
}

void TForm1::btnUSBProgramClick(ui::Control&) {
  FlashActivity activity(app);
  if (!activity) return;
  FormProgress progress(*this);
  lblUSBProcessInfo->SetCaption("Start Programming...");
  core.UsbDevice.Open();
  const auto [start, end] = OperationRange();
  if (ProgramRange(core, progress, start, end))
    lblUSBProcessInfo->SetCaption("Programming Success");
  core.UsbDevice.Close();
}

void TForm1::btnUSBVerifyClick(ui::Control&) {
  FlashActivity activity(app);
  if (!activity) return;
  FormProgress progress(*this);
  lblUSBProcessInfo->SetCaption("Start Verifying Check");
  core.UsbDevice.Open();
  const auto [start, end] = OperationRange();
  if (VerifyRange(core, progress, start, end)) lblUSBProcessInfo->SetCaption("Verifying Success");
  core.UsbDevice.Close();
}

void TForm1::btnReadBackClick(ui::Control&) {
  FlashActivity activity(app);
  if (!activity) return;
  FormProgress progress(*this);
  lblUSBProcessInfo->SetCaption("Read Flash data back");
  core.UsbDevice.Open();
  const bool result = ReadBackRange(core, progress, 0, kReadBackSize);
  // The dump is offered whatever the result; a cancelled dialog or a file that cannot be
  // created writes nothing.
  if (SaveBinFIleDialog->Execute(shell)) {
    std::ofstream out(SaveBinFIleDialog->FileName(), std::ios::binary | std::ios::trunc);
    if (out) out << FormatReadBackDump(core.ReadBackBuffer, kReadBackSize);
  }
  if (result) lblUSBProcessInfo->SetCaption("Read Flash content Success");
  core.UsbDevice.Close();
}

}  // namespace qv
