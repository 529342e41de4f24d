// The "Parameter" page: the device's stored USB ids and strings (sent on Enter), and the
// settings record held in memory, changed by the option controls, sent by Set and fetched by
// Read back. Every transfer is a parameter exchange, which opens and closes the connection.
#include <string>

#include "app/DeviceActivity.h"
#include "app/Unit1.h"
#include "chip/ParameterItems.h"
#include "chip/ParameterRequest.h"

namespace qv {
namespace {

void SetBit(std::uint8_t& byte, unsigned bit, bool on) {
  byte = static_cast<std::uint8_t>(on ? byte | (1u << bit) : byte & ~(1u << bit));
}

}  // namespace

void TForm1::lbledSysVIDPIDKeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState) {
  if (Key != ui::kKeyEnter) return;
  const bool vendor = &Sender == lbledSysVID;
  DeviceActivity activity(app);
  if (!activity) return;
  SendId(core.UsbDevice, core.clock, vendor ? parameter::kVendorId : parameter::kProductId,
         (vendor ? lbledSysVID : lbledSysPID)->Text());
}

void TForm1::lbledSysStrKeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState) {
  if (Key != ui::kKeyEnter) return;
  const unsigned item = &Sender == lbledSysStr1   ? parameter::kString1
                        : &Sender == lbledSysStr2 ? parameter::kString2
                                                  : parameter::kString3;
  DeviceActivity activity(app);
  if (!activity) return;
  SendString(core.UsbDevice, core.clock, item, static_cast<ui::LabeledEdit&>(Sender).Text());
}

void TForm1::btnSetParaClick(ui::Control&) {
  DeviceActivity activity(app);
  if (!activity) return;
  WriteSettings(core.UsbDevice, core.clock, app.ParameterSettings);
}

void TForm1::btnReadParaClick(ui::Control&) {
  DeviceActivity activity(app);
  if (!activity) return;
  // A read that fails or is not completed leaves the record as it was, which is shown again.
  ReadSettings(core.UsbDevice, core.clock, app.ParameterSettings);
  ShowParameterSettings();
}

void TForm1::rbnI2SlenClick(ui::Control&) {
  SetBit(app.ParameterSettings[0], 0, rbnI2Slen0->Checked());
}

void TForm1::rbnSPDIFlenClick(ui::Control&) {
  SetBit(app.ParameterSettings[0], 1, rbnSPDIFlen0->Checked());
}

void TForm1::chkI2SLRSwapClick(ui::Control&) {
  SetBit(app.ParameterSettings[0], 2, chkI2SLRSwap->Checked());
}

void TForm1::chkDSDLRSwapClick(ui::Control&) {
  SetBit(app.ParameterSettings[0], 3, chkDSDLRSwap->Checked());
}

void TForm1::rbnMCLKOutFreqClick(ui::Control& Sender) {
  for (int i = 0; i < 4; ++i) {
    if (Find<ui::RadioButton>("rbnMCLKOutFreq" + std::to_string(i)) != &Sender) continue;
    std::uint8_t& byte = app.ParameterSettings[0];
    byte = static_cast<std::uint8_t>((byte & ~0x30) | (i << 4));
    return;
  }
}

void TForm1::rbnI2SFormatClick(ui::Control&) {
  SetBit(app.ParameterSettings[0], 6, !rbnI2SFormat0->Checked());
}

void TForm1::rbnDSDOutClick(ui::Control&) {
  SetBit(app.ParameterSettings[0], 7, rbnDSDOut0->Checked());
}

void TForm1::chkMCLKOutOffClick(ui::Control&) {
  SetBit(app.ParameterSettings[1], 7, chkMCLKOutOff->Checked());
}

void TForm1::chkI2SOutOffClick(ui::Control&) {
  SetBit(app.ParameterSettings[1], 6, chkI2SOutOff->Checked());
}

void TForm1::chkSPDIFOutOffClick(ui::Control&) {
  SetBit(app.ParameterSettings[1], 5, chkSPDIFOutOff->Checked());
}

void TForm1::ShowParameterSettings() {
  // A copy: checking a control runs its click handler, which writes its bits back.
  const auto settings = app.ParameterSettings;
  const std::uint8_t audio = settings[0];
  const std::uint8_t outputs = settings[1];

  lblEepAvail->SetCaption((settings[3] & 0x80) != 0 ? "EEPROM Exist" : "EEPROM not Available");
  ((audio & 0x01) != 0 ? rbnI2Slen0 : rbnI2Slen1)->SetChecked(true);
  ((audio & 0x02) != 0 ? rbnSPDIFlen0 : rbnSPDIFlen1)->SetChecked(true);
  ((audio & 0x40) != 0 ? rbnI2SFormat1 : rbnI2SFormat0)->SetChecked(true);
  ((audio & 0x80) != 0 ? rbnDSDOut0 : rbnDSDOut1)->SetChecked(true);
  const std::string mclk = "rbnMCLKOutFreq" + std::to_string((audio >> 4) & 0x03);
  if (auto* radio = Find<ui::RadioButton>(mclk)) radio->SetChecked(true);

  chkI2SLRSwap->SetChecked((audio & 0x04) != 0);
  chkDSDLRSwap->SetChecked((audio & 0x08) != 0);
  chkMCLKOutOff->SetChecked((outputs & 0x80) != 0);
  chkI2SOutOff->SetChecked((outputs & 0x40) != 0);
  chkSPDIFOutOff->SetChecked((outputs & 0x20) != 0);
}

}  // namespace qv
