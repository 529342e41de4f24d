// The two update sequences of the window: the one-click update behind Start and the ISP page's
// configurable Auto run.
#include "app/Unit1.h"
#include "flash/FlashOperations.h"
#include "flash/FormProgress.h"
#include "flash/UpdateSequence.h"

namespace qv {
namespace {

constexpr int kStepFontSize = 12;
constexpr int kResultFontSize = 16;
constexpr const char* kDialogCaption = "Dialog";
constexpr const char* kNoDeviceText = "USB device is NOT available !!    ";
constexpr const char* kNoFileText = "Program File Not Ready !!    ";

// Ends an Auto run on every path, also when a conversion error leaves it early.
class AutoRunScope {
 public:
  explicit AutoRunScope(TForm1& form) : form_(form) {
    form_.app.UpdateBusy = 1;
    form_.btnUSBISPAuto->SetCaption("Stop");
  }
  AutoRunScope(const AutoRunScope&) = delete;
  AutoRunScope& operator=(const AutoRunScope&) = delete;
  ~AutoRunScope() {
    form_.btnUSBISPAuto->SetCaption("Auto");
    form_.app.UpdateBusy = 0;
  }

 private:
  TForm1& form_;
};

}  // namespace

void TForm1::btnSimpleAutoClick(ui::Control&) {
  // The running update pumps messages; a click on its button then must not start another, and
  // the one update of a run is never followed by a second.
  if (app.UpdateBusy || app.UpdateFinished) return;
  DeviceActivity activity(app);
  if (!activity) return;
  // A device another program holds is left alone: nothing would reach it, and this run's one
  // update would be spent on a failure.
  if (!OwnDevice(core.UsbDevice.GetDevicePath())) return;
  core.SequenceFailed = 0;
  app.UpdateBusy = 1;
  if (shell.ShowMessageBox(kUpdateWarningText, kUpdateWarningCaption,
                           kMbOkCancel | kMbIconExclamation) != kIdOk) {
    lblISPProcStatus->SetCaption(kUpdateAbortedText);
    RestyleLabel(*lblISPProcStatus, kResultFontSize, ui::clRed);
    app.UpdateBusy = 0;
    return;
  }
  btnSimpleAuto->SetCaption("Stop");
  RestyleLabel(*lblISPProcStatus, kStepFontSize, ui::clWindowText);

  FormProgress progress(*this);
  UpdateChecks checks;
  // A replay answers nothing after the request that differed, which the protection and the ISP
  // mode exit would pass over to a success.
  if (app.ReplayMismatch) {
    checks.beforeResult = [this](const CoreState&) -> std::optional<std::string> {
      std::string mismatch = app.ReplayMismatch();
      if (mismatch.empty()) return std::nullopt;
      return mismatch;
    };
  }
  RunOneClickUpdate(core, progress, checks);

  btnSimpleAuto->SetCaption("Finish");
  btnSimpleAuto->SetEnabled(false);
  app.UpdateFinished = 1;
  app.UpdateBusy = 0;
}

void TForm1::btnUSBISPAutoClick(ui::Control&) {
  if (!core.UsbDevice.GetDeviceFound()) {
    shell.ShowMessageBox(kNoDeviceText, kDialogCaption, kMbOk);
    return;
  }
  if (!core.ProgramFileReady && cbxReadISPFile->Text().empty()) {
    shell.ShowMessageBox(kNoFileText, kDialogCaption, kMbOk);
    return;
  }
  // A click while the run shows "Stop" only restores the caption; the run goes on.
  if (btnUSBISPAuto->Caption() != "Auto") {
    btnUSBISPAuto->SetCaption("Auto");
    return;
  }
  DeviceActivity activity(app);
  if (!activity) return;
  core.SequenceFailed = 0;
  AutoRunScope run(*this);

  if (chkReadFile->Checked()) {
    shell.ProcessMessages();
    if (cbxReadISPFile->Text() != core.UpdateFilePath) core.UpdateFilePath = cbxReadISPFile->Text();
    ReadProgramFile();
  }
  // An empty image is no firmware: erasing the device for it would leave it without any.
  if (core.FlashImage.Length == 0) {
    shell.ShowMessageBox(kNoFileText, kDialogCaption, kMbOk);
    return;
  }
  if (rbnRange1->Checked()) ReadAssignedRange();
  // A range past the flash would wrap: erasing or writing where nobody asked for it.
  if (RangeRefused(chkErase->Checked())) {
    core.SequenceFailed = 1;
    return;
  }
  const auto [start, end] = OperationRange();
  const EraseMode eraseMode = rbnRange0->Checked() ? EraseMode::kChip : EraseMode::kSectors;
  // From here on the run erases, writes and compares the range and image as they stand now.
  const CoreState::ImageSnapshot image = core.SnapshotProgramImage();

  QuorvexUsb& usb = core.UsbDevice;
  FormProgress progress(*this);
  const auto started = [&](FlashStep step, const char* text) {
    progress.Report({.step = step, .kind = FlashEvent::Kind::kStart, .text = text});
  };
  const auto passed = [&](FlashStep step, const char* text) {
    progress.Report({.step = step, .kind = FlashEvent::Kind::kSuccess, .text = text});
  };
  started(FlashStep::kIspEnter, "Enter ISP Mode");
  shell.ProcessMessages();
  usb.Open();
  if (chkISPMode->Checked()) SetIspMode(usb, true);
  ChipSetUp(core);

  if (chkErase->Checked()) {
    started(FlashStep::kClearStatus, "Clear Status register");
    ClearStatusRegister(core);
    EraseFlash(core, progress, eraseMode);
  }
  usb.Open();
  if (chkBlank->Checked() && !core.SequenceFailed) {
    started(FlashStep::kBlankCheck, "Start Blanking Check");
    core.SequenceFailed = BlankCheckRange(core, progress, start, end) ? 0 : 1;
    if (!core.SequenceFailed) passed(FlashStep::kBlankCheck, "Blanking Success");
  }
  if (chkProgram->Checked() && !core.SequenceFailed) {
    started(FlashStep::kProgram, "Start Programming");
    if (ProgramRange(core, progress, image.bytes, start, end))
      passed(FlashStep::kProgram, "Programming Success");
  }
  if (chkVerify->Checked() && !core.SequenceFailed) {
    started(FlashStep::kVerify, "Start Verifying Check");
    if (VerifyRange(core, progress, image.bytes, start, end))
      passed(FlashStep::kVerify, "Verifying Success");
  }
  if (chkProtect->Checked()) ProtectFlash(core);
  if (chkISPMode->Checked()) SetIspMode(usb, false);
  usb.Close();
}

}  // namespace qv
