#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/app/WindowFixture.h"
#include "ui/Controls.h"

namespace qv::test {
namespace {

using ui::ControlKind;
using K = ui::ControlKind;

// Every control after start-up: its kind, its caption or text, where it sits and whether it
// takes input. Hidden pages count as visible here when the control itself is.
struct Expected {
  const char* name;
  ControlKind kind;
  const char* text;
  const char* parent;
  bool enabled = true;
  bool visible = true;
};

const Expected kControls[] = {
    // Update panel.
    {"pnlUSBExist", K::Panel, "", "pnlUSB"},
    {"lblFWVer", K::Label, "Current Firmware:", "pnlUSB", true, false},
    {"chkDetectUSB", K::CheckBox, "Detect Device", "pnlUSB", true, false},
    // Detection is on from start-up, which locks the custom id edits.
    {"lbledtVID", K::LabeledEdit, "e6a4", "pnlUSB", false, false},
    {"lbledtPID", K::LabeledEdit, "f800", "pnlUSB", false, false},
    {"cbxReadISPFile", K::ComboBox, "", "pnlUSB", true, false},
    {"USBLoadFileBitBtn", K::BitBtn, "File", "pnlUSB", true, false},
    {"Image1", K::Image, "", "pnlUSB", true, false},
    // Register page.
    {"btnReadAll", K::Button, "Read Bank", "TabSheet1"},
    {"lblRegAddr", K::Label, "Reg 0x00", "TabSheet1"},
    {"lblRegData", K::Label, "= 0x00", "TabSheet1"},
    {"Label1", K::Label, "7 6 5 4 3 2 1 0", "Panel2"},
    {"RegStringGrid1", K::StringGrid, "", "TabSheet1"},
    // I2C page.
    {"Label6", K::Label, "Slave Address: 0x", "PageMI2CCtrl"},
    {"edtMI2CAddr", K::Edit, "20", "PageMI2CCtrl"},
    {"Label15", K::Label, "(enter)", "PageMI2CCtrl"},
    {"btnReadMI2C", K::Button, "Read", "PageMI2CCtrl"},
    {"lblMI2CRegAddr", K::Label, "Reg 0x00", "PageMI2CCtrl"},
    {"lblMI2CRegData", K::Label, "= 0x00", "PageMI2CCtrl"},
    {"Label3", K::Label, "7 6 5 4 3 2 1 0", "Panel3"},
    {"StringGridMIIC", K::StringGrid, "", "PageMI2CCtrl"},
    // ISP page.
    {"lblUSBChecksum", K::Label, "Checksum :", "PageISPCtrl"},
    {"lblUSBISPStatusReg", K::Label, "Status Register: 0x00", "PageISPCtrl"},
    {"lblUSBISPProcess", K::Label, "Process Addr: 0x000000", "PageISPCtrl"},
    {"lblUSBProcessInfo", K::Label, "Status:", "PageISPCtrl"},
    {"btnUSBISPAuto", K::Button, "Auto", "PageISPCtrl"},
    {"chkISPMode", K::CheckBox, "ISP Mode", "PageISPCtrl", true, false},
    {"chkErase", K::CheckBox, "Erase", "PageISPCtrl", true, false},
    {"chkBlank", K::CheckBox, "Blank", "PageISPCtrl", true, false},
    {"chkProgram", K::CheckBox, "Program", "PageISPCtrl", true, false},
    {"chkVerify", K::CheckBox, "Verify", "PageISPCtrl", true, false},
    {"chkReadFile", K::CheckBox, "Reload File", "PageISPCtrl", true, false},
    {"chkProtect", K::CheckBox, "Flash Protect", "PageISPCtrl", true, false},
    {"gbxISPRange", K::GroupBox, "Flash Access Range", "PageISPCtrl", true, false},
    {"rbnRange0", K::RadioButton, "All", "gbxISPRange"},
    {"rbnRange1", K::RadioButton, "Assign Range", "gbxISPRange"},
    {"lbledISPStart", K::LabeledEdit, "64", "gbxISPRange", false},
    {"lbledISPRange", K::LabeledEdit, "64", "gbxISPRange", false},
    {"Label20", K::Label, "KB", "gbxISPRange", false},
    {"Label21", K::Label, "KB", "gbxISPRange", false},
    {"GroupBox1", K::GroupBox, "Function Test", "PageISPCtrl", true, false},
    {"lblUSBStatus", K::Label, "0x00", "GroupBox1"},
    {"lblUSBChipID", K::Label, "0x00", "GroupBox1"},
    {"btnUSBChipID", K::Button, "Chip ID", "GroupBox1"},
    {"btnEnterISP", K::Button, "Enter ISP", "GroupBox1"},
    {"btnUSBErase", K::Button, "Erase", "GroupBox1"},
    {"btnUSBBlank", K::Button, "Blank Check", "GroupBox1"},
    {"btnUSBReadStatus", K::Button, "Read Status", "GroupBox1"},
    {"btnUSBProgram", K::Button, "Program", "GroupBox1"},
    {"btnUSBVerify", K::Button, "Verify", "GroupBox1"},
    {"btnUSBWriteEnable", K::Button, "Write Enable", "GroupBox1"},
    {"btnUSBWriteDisable", K::Button, "Write Disable", "GroupBox1"},
    {"btnReadBack", K::Button, "Read Flash", "GroupBox1"},
    {"lbledtUSBWriteStatus", K::LabeledEdit, "", "GroupBox1"},
    {"Button1", K::Button, " Save", "GroupBox1"},
    {"gbxFlashCMD", K::GroupBox, "Flash Instruction", "PageISPCtrl"},
    {"lbledIspCmdRDID", K::LabeledEdit, "9F", "gbxFlashCMD"},
    {"lbledIspCmdWREN", K::LabeledEdit, "06", "gbxFlashCMD"},
    {"lbledIspCmdWRDS", K::LabeledEdit, "04", "gbxFlashCMD"},
    {"lbledIspCmdRDSD", K::LabeledEdit, "05", "gbxFlashCMD"},
    {"lbledIspCmdWRSD", K::LabeledEdit, "01", "gbxFlashCMD"},
    {"lbledIspCmdERAL", K::LabeledEdit, "C7", "gbxFlashCMD"},
    {"lbledIspCmdPP", K::LabeledEdit, "02", "gbxFlashCMD"},
    {"lbledIspCmdRead", K::LabeledEdit, "03", "gbxFlashCMD"},
    // Parameter page.
    {"Label2", K::Label, "Prodcut Information String (Max. 31 character)", "Parameter"},
    {"Label4", K::Label, "(Manufacturer)", "Parameter"},
    {"Label5", K::Label, "(Model Name)", "Parameter"},
    {"Label7", K::Label, "(Serial Number)", "Parameter"},
    {"Label8", K::Label, "System General Setting", "Parameter"},
    {"lbledSysVID", K::LabeledEdit, "e6a0", "Parameter"},
    {"lbledSysPID", K::LabeledEdit, "6012", "Parameter"},
    {"lbledSysStr1", K::LabeledEdit, "Quorvex-inc", "Parameter"},
    {"lbledSysStr2", K::LabeledEdit, "Quorvex-inc UAC2 22", "Parameter"},
    {"lbledSysStr3", K::LabeledEdit, "QVUA170203", "Parameter"},
    {"btnReadPara", K::Button, "Read back", "Parameter"},
    {"btnSetPara", K::Button, "Set", "Parameter"},
    {"GroupBox2", K::GroupBox, "Output when  DSD in", "Parameter"},
    {"rbnDSDOut0", K::RadioButton, "DSD", "GroupBox2"},
    {"rbnDSDOut1", K::RadioButton, "DoP", "GroupBox2"},
    {"GroupBox3", K::GroupBox, "I2S Output length", "Parameter"},
    {"rbnI2Slen0", K::RadioButton, "32 bit", "GroupBox3"},
    {"rbnI2Slen1", K::RadioButton, "24 bit", "GroupBox3"},
    {"GroupBox4", K::GroupBox, "SPDIF Output length", "Parameter"},
    {"rbnSPDIFlen0", K::RadioButton, "32 bit", "GroupBox4"},
    {"rbnSPDIFlen1", K::RadioButton, "24 bit", "GroupBox4"},
    {"GroupBox5", K::GroupBox, "I2S MCLK Output Frequency", "Parameter"},
    {"GroupBox6", K::GroupBox, "I2S Format ", "Parameter"},
    {"rbnI2SFormat0", K::RadioButton, "Standard", "GroupBox6"},
    {"rbnI2SFormat1", K::RadioButton, "Left Justify", "GroupBox6"},
    {"chkI2SLRSwap", K::CheckBox, "I2S Output Channel Swap", "Parameter"},
    {"chkDSDLRSwap", K::CheckBox, "DSD Output Channel Swap", "Parameter"},
    {"chkMCLKOutOff", K::CheckBox, "MCLK Output Off", "Parameter"},
    {"chkI2SOutOff", K::CheckBox, "I2S Output Off", "Parameter"},
    {"chkSPDIFOutOff", K::CheckBox, "SPDIF Output Off", "Parameter"},
    // Information page.
    {"lblCurrentFreq0", K::Label, "Input Freq:  ", "Information"},
    {"lblCurrentFreq1", K::Label, "176.4KHz", "Information"},
    {"lblCurrentFormat0", K::Label, "Input Format:", "Information"},
    {"lblCurrentFormat1", K::Label, "PCM", "Information"},
    {"lblConnect", K::Label, "USB connected", "Information"},
    {"lblMute", K::Label, "Unmute", "Information"},
    {"btnUpdateStatus", K::Button, "Update", "Information"},
    {"GroupBox7", K::GroupBox, "Special I2C access", "Information"},
    {"Label16", K::Label, "Slave Address: 0x", "GroupBox7"},
    {"Label17", K::Label, "(enter)", "GroupBox7"},
    {"edtMI2CAddr1", K::Edit, "60", "GroupBox7"},
    {"Add", K::Label, "Command", "GroupBox7"},
    {"Label18", K::Label, "Command Len.", "GroupBox7"},
    {"Label19", K::Label, "Data Len.", "GroupBox7"},
    {"Label22", K::Label, "Data", "GroupBox7"},
    {"srblen0", K::ScrollBar, "", "GroupBox7"},
    {"srblen1", K::ScrollBar, "", "GroupBox7"},
    {"lbllencmd", K::Label, "1", "GroupBox7"},
    {"lbllendat", K::Label, "1", "GroupBox7"},
    {"btnReadSpecI2C", K::Button, "Read", "GroupBox7"},
    {"btnWriteSpecI2C", K::Button, "Write", "GroupBox7"},
    // Bin file editor page.
    {"Label13", K::Label, "Modify User parameter and save to new Binary File", "BinFile"},
    {"CurrentFileBitBtn", K::BitBtn, "Current File", "BinFile"},
    {"lblCurrentFilePath", K::Label, "...", "BinFile"},
    {"btnCheck", K::Button, "Check", "BinFile", false},
    {"lblStatusReport", K::Label, "", "BinFile"},
    {"lblSaveDone", K::Label, "", "BinFile"},
    {"GroupBox9", K::GroupBox, "User information New Setting ", "BinFile", false},
    {"labedtNewVID", K::LabeledEdit, "E6A4", "GroupBox9"},
    {"labedtNewPID", K::LabeledEdit, "6012", "GroupBox9"},
    {"Label9", K::Label, "Manufacture:", "GroupBox9"},
    {"edtNewStr0", K::Edit, "Quorvex-inc", "GroupBox9"},
    {"Label10", K::Label, "Product Name:", "GroupBox9"},
    {"edtNewStr1", K::Edit, "Quorvex-inc UAC22", "GroupBox9"},
    {"Label11", K::Label, "Serial Number:", "GroupBox9"},
    {"edtNewStr2", K::Edit, "QVUA170405", "GroupBox9"},
    {"Label12", K::Label, "Play Port:", "GroupBox9"},
    {"edtNewStr3", K::Edit, "Primary Play Interface", "GroupBox9"},
    {"Label14", K::Label, "Record Port:", "GroupBox9"},
    {"edtNewStr4", K::Edit, "Record Interface", "GroupBox9"},
    {"btnSaveBitBin", K::BitBtn, "New File", "BinFile", false},
    {"lblSaveBinPath", K::Label, "...", "BinFile"},
    {"btnSaveBin", K::Button, " Save", "BinFile", false},
};

TEST(Layout, EveryControlHasItsNameKindTextAndState) {
  Window w;
  for (const Expected& e : kControls) {
    SCOPED_TRACE(e.name);
    ui::Control* control = w.form->FindComponent(e.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->Kind(), e.kind);
    EXPECT_EQ(control->Caption(), e.text);
    ASSERT_NE(control->Parent(), nullptr);
    EXPECT_EQ(control->Parent()->Name(), e.parent);
    EXPECT_EQ(control->Enabled(), e.enabled);
    EXPECT_EQ(control->Visible(), e.visible);
  }
}

TEST(Layout, LabelledEditsCarryTheirLabels) {
  const std::pair<const char*, const char*> labels[] = {
      {"lbledtVID", "VID:"},
      {"lbledtPID", "PID:"},
      {"lbledISPStart", "Start Addr:"},
      {"lbledISPRange", "Size: "},
      {"lbledtUSBWriteStatus", "Write Status : 0x"},
      {"lbledIspCmdRDID", "Chip ID:"},
      {"lbledIspCmdWREN", "Write Enable:"},
      {"lbledIspCmdWRDS", "Write Disable:"},
      {"lbledIspCmdRDSD", "Read Status:"},
      {"lbledIspCmdWRSD", "Write Status: "},
      {"lbledIspCmdERAL", "Erase All:"},
      {"lbledIspCmdPP", "Page Program: "},
      {"lbledIspCmdRead", "Read:"},
      {"lbledSysVID", "VID:"},
      {"lbledSysPID", "PID:"},
      {"lbledSysStr1", "String 1:"},
      {"lbledSysStr2", "String 2:"},
      {"lbledSysStr3", "String 3:"},
      {"labedtNewVID", "VID:"},
      {"labedtNewPID", "PID:"},
  };
  Window w;
  for (const auto& [name, label] : labels) {
    EXPECT_EQ(w.Get<ui::LabeledEdit>(name).LabelCaption(), label) << name;
  }
}

TEST(Layout, NumberedFamiliesAreFoundByName) {
  struct Family {
    const char* prefix;
    int count;
    ControlKind kind;
    const char* parent;
    std::vector<std::string> captions;  // empty: none expected
    int enabledCount;                   // the first n are enabled
  };
  const Family families[] = {
      {"chkBit", 8, K::CheckBox, "TabSheet1", {"", "", "", "", "", "", "", ""}, 8},
      {"chkMI2CBit", 8, K::CheckBox, "PageMI2CCtrl", {"", "", "", "", "", "", "", ""}, 8},
      {"edtI2Ccmd", 5, K::Edit, "GroupBox7", {"00", "00", "00", "00", "00"}, 1},
      {"edtI2Cdat", 5, K::Edit, "GroupBox7", {"00", "00", "00", "00", "00"}, 1},
      {"rbnMCLKOutFreq",
       4,
       K::RadioButton,
       "GroupBox5",
       {"128 Fs", "256 Fs", "512 Fs", "1024 Fs"},
       4},
      {"btnHID",
       5,
       K::Button,
       "Information",
       {"HID Prev", "HID Vol -", "HID Play", "HID Vol +", "HID Next"},
       5},
  };
  Window w;
  for (const Family& family : families) {
    for (int i = 0; i < family.count; ++i) {
      const std::string name = family.prefix + std::to_string(i);
      SCOPED_TRACE(name);
      ui::Control* control = w.form->FindComponent(name);
      ASSERT_NE(control, nullptr);
      EXPECT_EQ(control->Kind(), family.kind);
      EXPECT_EQ(control->Parent()->Name(), family.parent);
      EXPECT_EQ(control->Caption(), family.captions[static_cast<std::size_t>(i)]);
      EXPECT_EQ(control->Enabled(), i < family.enabledCount);
    }
    EXPECT_EQ(w.form->FindComponent(family.prefix + std::to_string(family.count)), nullptr);
  }
  // The bit boxes stand under "7 6 5 4 3 2 1 0": bit 7 leftmost.
  EXPECT_LT(w.form->chkBit7->Bounds().left, w.form->chkBit0->Bounds().left);
}

TEST(Layout, NamesAreUniqueAndHintsSet) {
  Window w;
  std::set<std::string> names;
  for (const auto& component : w.form->Components()) {
    EXPECT_TRUE(names.insert(component->Name()).second) << component->Name();
  }
  for (const char* name : {"edtNewStr0", "edtNewStr3", "edtNewStr4"}) {
    EXPECT_EQ(w.form->FindComponent(name)->Hint(), "Manu") << name;
  }
  EXPECT_TRUE(w.form->MainPageControl->ShowHint());
  for (ui::ScrollBar* bar : {w.form->srblen0, w.form->srblen1}) {
    EXPECT_EQ(bar->Min(), 1);
    EXPECT_EQ(bar->Max(), 5);
    EXPECT_EQ(bar->Position(), 1);
  }
  EXPECT_EQ(w.form->Image1->PictureWidth(), 599);
  EXPECT_EQ(w.form->Image1->Bounds().width, 585);
  EXPECT_EQ(w.form->Image1->Bounds().height, 185);
  EXPECT_EQ(w.form->edtMI2CAddr->GetFont().pixels, 15);
  EXPECT_TRUE(w.form->lblEepAvail->GetFont().bold);
}

}  // namespace
}  // namespace qv::test
