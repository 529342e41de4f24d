// Device presence polling on the update panel: one id per timer tick until a device answers,
// then a presence check once a second; the window's claim on the device it shows, held while it
// shows it; the detection switch, the custom id edits, the File button and the firmware version
// readout.

#include <string>
#include <string_view>

#include "app/DeviceActivity.h"
#include "app/DeviceModels.h"
#include "app/Unit1.h"
#include "chip/RegisterMap.h"
#include "chip/Registers.h"
#include "platform/DeviceOwner.h"
#include "transport/Protocol.h"
#include "util/Text.h"

namespace qv {

namespace {

// While searching, ids follow each other quickly; a found device is only confirmed.
constexpr std::uint32_t kSearchIntervalMs = 100;
constexpr std::uint32_t kConfirmIntervalMs = 1000;

// Letters A to Z only: the id edits are typed by people, the match text is compared as typed
// into interface paths, which hold their ids in lower case.
std::string ComposeMatchText(const std::string& vid, const std::string& pid) {
  return "vid_" + vid + "&pid_" + pid;
}

}  // namespace

void TForm1::Timer1Timer(ui::Control&) {
  QuorvexUsb& usb = core.UsbDevice;

  // 1. Switched off, or the one update of this run is over: only let go of the device, unless
  // an operation holds it across the message pump (closing it there would fail the rest of
  // that operation without notice).
  if (!app.DetectEnabled || app.UpdateFinished) {
    if (usb.GetDeviceFound() && !app.DeviceActivityRunning) usb.Close();
    // The window works with no device now: another program may have it.
    if (!app.DeviceActivityRunning) app.Ownership.ReleaseAll();
    return;
  }
  // 2. A running sequence, or any operation that holds the connection across the message pump,
  // owns the connection, its driver mode, its match text and its device path.
  if (app.UpdateBusy || app.DeviceActivityRunning) return;

  if (usb.GetDeviceFound()) {
    // 3. Connected: only confirm that the same device is still there.
    Timer1->SetInterval(kConfirmIntervalMs);
    usb.IsDevicePresent();
  } else {
    // 4. Searching: the update ids and the table rows take turns.
    core.UpdateFileLoaded = 0;
    lblUpdaeFileStatus->SetCaption("No Updated File !");
    lblISPProcStatus->SetCaption("");
    if (usb.GetUseAudioDriver() == 1) {
      Timer1->SetInterval(kSearchIntervalMs);
      usb.SetUseAudioDriver(0);
      if (app.IspIdToggle) {
        usb.SetMatchId(protocol::kUpdateMatchE7B2);
        app.IspIdToggle = 0;
      } else {
        usb.SetMatchId(protocol::kUpdateMatchE6A4);
        app.IspIdToggle = 1;
      }
    } else {
      usb.SetUseAudioDriver(1);
      app.ModelIndex = static_cast<std::uint8_t>((app.ModelIndex + 1) % kDeviceModelCount);
      usb.SetMatchId(FieldText(DeviceModelTable().at(app.ModelIndex).MatchText));
    }
    // What counts is DeviceFound: a device that is listed but does not answer the probe is
    // still shown as found.
    usb.FindDevice();
  }

  // 5. The outcome.
  if (!usb.GetDeviceFound()) {
    pnlUSBExist->SetColor(ui::clBtnFace);
    lblDetectDevice->SetCaption("No device is available");
    btnSimpleAuto->SetEnabled(false);
    if (!app.DeviceActivityRunning) app.Ownership.ReleaseAll();
  } else if (!OwnDevice(usb.GetDevicePath())) {
    // Another program works with the device; the next ticks ask again.
  } else if (usb.GetUseAudioDriver() == 1) {
    lblDetectDevice->SetCaption(
        "Find Device " + std::string(FieldText(DeviceModelTable().at(app.ModelIndex).DisplayName)));
    if (!core.UpdateFileLoaded) ReadProgramFile1();
  } else if (app.IspIdToggle) {
    // A device in update mode no longer tells its model; it gets the first model's firmware.
    lblDetectDevice->SetCaption("Firmware update device E6A4 is exist");
    app.ModelIndex = 0;
    ReadProgramFile1();
  } else {
    lblDetectDevice->SetCaption("Firmware update device E7B2 is exist");
  }
}

bool TForm1::OwnDevice(std::string_view path) {
  if (app.Ownership.Own(path)) return true;
  // Nothing may look ready for a device the window cannot send to.
  const ClaimResult& refusal = app.Ownership.LastRefusal();
  pnlUSBExist->SetColor(ui::clBtnFace);
  btnSimpleAuto->SetEnabled(false);
  lblDetectDevice->SetCaption(refusal.inUse ? "In use by " + DescribeHolder(refusal.holder)
                                            : "Device cannot be claimed: " + refusal.error);
  return false;
}

void TForm1::chkDetectUSBClick(ui::Control&) {
  if (chkDetectUSB->Checked()) {
    app.DetectEnabled = 1;
    lbledtVID->SetEnabled(false);
    lbledtPID->SetEnabled(false);
    app.CustomVid = lbledtVID->Text();
    app.CustomPid = lbledtPID->Text();
    // Kept whole whatever its length: nothing looks devices up by it.
    app.CustomMatchText = LowerAscii(ComposeMatchText(app.CustomVid, app.CustomPid));
  } else {
    app.DetectEnabled = 0;
    pnlUSBExist->SetColor(ui::clGray);
    lbledtVID->SetEnabled(true);
    lbledtPID->SetEnabled(true);
    core.UsbDevice.ClearDeviceFound();
    if (!app.DeviceActivityRunning) app.Ownership.ReleaseAll();
  }
}

void TForm1::lbledtVIDPIDKeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState) {
  if (Key != ui::kKeyEnter) return;
  if (&Sender == lbledtVID) app.CustomVid = lbledtVID->Text();
  if (&Sender == lbledtPID) app.CustomPid = lbledtPID->Text();
  app.CustomMatchText = ComposeMatchText(app.CustomVid, app.CustomPid);
}

void TForm1::USBLoadFileBitBtnClick(ui::Control&) {
  // The image an operation under way writes is not to be replaced under it.
  DeviceActivity activity(app);
  if (!activity) return;
  ReadProgramFile1();
}

void TForm1::GetFWVersion() {
  QuorvexUsb& usb = core.UsbDevice;
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  const bool ok = usb.Open() && SelectRegisterBank(usb, chip::bank::kMailbox) &&
                  ReadRegister(usb, chip::mailbox::kVersionMajor, &major) &&
                  ReadRegister(usb, chip::mailbox::kVersionMinor, &minor);
  usb.Close();
  // A version that was not read is not shown as one.
  lblFWVer->SetCaption(ok ? "Current Firmware:V" + std::to_string(major) + "." +
                                std::to_string(minor)
                          : std::string("Current Firmware:unknown"));
}

}  // namespace qv
