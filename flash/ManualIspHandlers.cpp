// The ISP page's single flash commands: ISP mode, identification, status, write enable latch.
#include "app/Unit1.h"
#include "chip/IspFlash.h"
#include "chip/RegisterMap.h"
#include "chip/Registers.h"
#include "flash/FormProgress.h"
#include "ui/Convert.h"
#include "util/Text.h"

namespace qv {
void TForm1::btnEnterISPClick(ui::Control&) {
  if (!core.UsbDevice.GetDeviceFound()) return;
  DeviceActivity activity(app);
  if (!activity) return;
  QuorvexUsb& usb = core.UsbDevice;
  usb.Open();
  if (app.InIspMode) {
    SetIspMode(usb, false);
    app.InIspMode = 0;
    btnEnterISP->SetCaption("Enter ISP");
  } else {
    // Without bank 13 selected the mode value would land in another bank's register 0x01.
    if (SelectRegisterBank(usb, chip::bank::kIsp)) WriteRegister(usb, chip::isp::kMode, 0x03);
    SetIspMode(usb, true);
    app.InIspMode = 1;
    btnEnterISP->SetCaption("Exit ISP");
  }
  usb.Close();
}

void TForm1::btnUSBChipIDClick(ui::Control&) {
  DeviceActivity activity(app);
  if (!activity) return;
  core.UsbDevice.Open();
  // A chip that does not answer keeps the identification read last for the operations, but the
  // label shows that nothing was read now.
  const bool read = FlashReadId(core.UsbDevice, core.FlashChipId);
  core.UsbDevice.Close();
  std::string text;
  for (std::uint8_t byte : core.FlashChipId) text += "0x" + FormatHex(byte, 2) + ",  ";
  lblUSBChipID->SetCaption(read ? text : kUnreadText);
}

void TForm1::btnUSBWriteEnableClick(ui::Control&) {
  DeviceActivity activity(app);
  if (!activity) return;
  core.UsbDevice.Open();
  FlashWriteEnable(core.UsbDevice);
  core.UsbDevice.Close();
}

void TForm1::btnUSBWriteDisableClick(ui::Control&) {
  DeviceActivity activity(app);
  if (!activity) return;
  core.UsbDevice.Open();
  FlashWriteDisable(core.UsbDevice);
  core.UsbDevice.Close();
}

void TForm1::btnUSBReadStatusClick(ui::Control&) {
  DeviceActivity activity(app);
  if (!activity) return;
  core.UsbDevice.Open();
  std::uint8_t status = 0;
  const bool read = FlashReadStatus(core.UsbDevice, status);
  core.UsbDevice.Close();
  // The fallback a failed read leaves is no status the flash gave.
  lblUSBStatus->SetCaption(read ? "0x" + FormatHex(status, 2) : std::string(kUnreadText));
}

void TForm1::lbledtUSBWriteStatusKeyDown(ui::Control&, std::uint16_t& Key, ui::ShiftState) {
  if (Key != ui::kKeyEnter) return;
  // A text that is not hexadecimal raises the conversion error before anything is sent.
  const int value = ui::StrToInt("0x" + lbledtUSBWriteStatus->Text());
  DeviceActivity activity(app);
  if (!activity) return;
  core.UsbDevice.Open();
  FlashWriteStatus(core.UsbDevice, static_cast<std::uint8_t>(value & 0xFF));
  core.UsbDevice.Close();
}

}  // namespace qv
