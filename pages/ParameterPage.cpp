// The parameter page: the device's settings record shown on the option controls.
#include <string>

#include "app/Unit1.h"

namespace qv {

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
