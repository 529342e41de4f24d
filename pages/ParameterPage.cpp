// The "Parameter" page: the device's stored USB ids and strings (sent on Enter), and the
// settings record held in memory, changed by the option controls, sent by Set and fetched by
// Read back. Every transfer is a parameter exchange, which opens and closes the connection.
#include <array>
#include <string_view>

#include "app/DeviceActivity.h"
#include "app/Unit1.h"
#include "chip/ParameterItems.h"
#include "chip/ParameterRequest.h"
#include "chip/SettingsFields.h"

namespace qv {
namespace {

// Each option control and the word of its field it stands for while checked; a check box stands
// for its field's other word while clear, a radio button only for its own.
struct SettingsOption {
  std::string_view control;
  std::string_view field;
  std::string_view checked;
  std::string_view clear = {};  // check boxes only
};

constexpr std::array<SettingsOption, 17> kOptions = {{
    {.control = "rbnI2Slen0", .field = "i2s-length", .checked = "32"},
    {.control = "rbnI2Slen1", .field = "i2s-length", .checked = "24"},
    {.control = "rbnSPDIFlen0", .field = "spdif-length", .checked = "32"},
    {.control = "rbnSPDIFlen1", .field = "spdif-length", .checked = "24"},
    {.control = "chkI2SLRSwap", .field = "i2s-swap", .checked = "on", .clear = "off"},
    {.control = "chkDSDLRSwap", .field = "dsd-swap", .checked = "on", .clear = "off"},
    {.control = "rbnMCLKOutFreq0", .field = "mclk", .checked = "128"},
    {.control = "rbnMCLKOutFreq1", .field = "mclk", .checked = "256"},
    {.control = "rbnMCLKOutFreq2", .field = "mclk", .checked = "512"},
    {.control = "rbnMCLKOutFreq3", .field = "mclk", .checked = "1024"},
    {.control = "rbnI2SFormat0", .field = "i2s-format", .checked = "standard"},
    {.control = "rbnI2SFormat1", .field = "i2s-format", .checked = "left-justified"},
    {.control = "rbnDSDOut0", .field = "dsd-out", .checked = "dsd"},
    {.control = "rbnDSDOut1", .field = "dsd-out", .checked = "dop"},
    {.control = "chkMCLKOutOff", .field = "mclk-out", .checked = "off", .clear = "on"},
    {.control = "chkI2SOutOff", .field = "i2s-out", .checked = "off", .clear = "on"},
    {.control = "chkSPDIFOutOff", .field = "spdif-out", .checked = "off", .clear = "on"},
}};

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
  // A read that fails or is not completed leaves the record as it was, to be written by Set as
  // the boxes show it; what only a read can tell, whether an EEPROM is there, shows as not read.
  if (ReadSettings(core.UsbDevice, core.clock, app.ParameterSettings))
    ShowParameterSettings();
  else
    lblEepAvail->SetCaption(kUnreadText);
}

void TForm1::BindSettingsOptions() {
  for (const SettingsOption& option : kOptions)
    Find<ui::CheckBox>(option.control)->OnClick = [this](ui::Control& sender) {
      SettingsOptionClick(sender);
    };
}

void TForm1::SettingsOptionClick(ui::Control& Sender) {
  const bool checked = static_cast<ui::CheckBox&>(Sender).Checked();
  for (const SettingsOption& option : kOptions) {
    if (option.control != Sender.Name()) continue;
    const std::string_view word = checked ? option.checked : option.clear;
    if (const auto change = ChangeTo(option.field, word))
      ApplyChange(app.ParameterSettings, *change);
    return;
  }
}

void TForm1::ShowParameterSettings() {
  // A copy: checking a control runs its click handler, which writes its word back.
  const auto settings = app.ParameterSettings;
  lblEepAvail->SetCaption(EepromPresent(settings) ? "EEPROM Exist" : "EEPROM not Available");
  for (const SettingsOption& option : kOptions) {
    const bool on = FieldWord(*FindSettingsField(option.field), settings) == option.checked;
    // A radio button goes off by another of its group coming on.
    if (on || !option.clear.empty()) Find<ui::CheckBox>(option.control)->SetChecked(on);
  }
}

}  // namespace qv
