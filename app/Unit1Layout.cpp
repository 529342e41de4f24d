// The window's controls in their layout state: names, kinds, captions, texts, fonts and
// positions. The creation event then changes what start-up needs.
#include <array>
#include <string>
#include <utility>

#include "app/Unit1.h"
#include "chip/MediaKeys.h"

namespace qv {

namespace {

template <class T, class... Args>
T* Make(ui::Form& form, ui::Control* parent, ui::Rect bounds, std::string caption, Args&&... args) {
  T& control = form.Place<T>(parent, std::forward<Args>(args)...);
  control.SetBounds(bounds);
  control.SetCaption(std::move(caption));
  return &control;
}

ui::Label* MakeLabel(ui::Form& form, ui::Control* parent, const char* name, std::string caption,
                     int left, int top) {
  const int width = 7 * static_cast<int>(caption.size()) + 4;
  return Make<ui::Label>(form, parent, {left, top, width, 13}, std::move(caption), name);
}

ui::Button* MakeButton(ui::Form& form, ui::Control* parent, const char* name, std::string caption,
                       ui::Rect bounds, bool glyph = false) {
  return Make<ui::Button>(form, parent, bounds, std::move(caption), name, glyph);
}

ui::CheckBox* MakeCheck(ui::Form& form, ui::Control* parent, const char* name, std::string caption,
                        ui::Rect bounds, bool checked) {
  auto* box = Make<ui::CheckBox>(form, parent, bounds, std::move(caption), name);
  box->SetChecked(checked);
  return box;
}

ui::RadioButton* MakeRadio(ui::Form& form, ui::Control* parent, const char* name,
                           std::string caption, ui::Rect bounds, bool checked) {
  auto* radio = Make<ui::RadioButton>(form, parent, bounds, std::move(caption), name);
  radio->SetChecked(checked);
  return radio;
}

ui::Edit* MakeEdit(ui::Form& form, ui::Control* parent, const char* name, std::string text,
                   ui::Rect bounds) {
  return Make<ui::Edit>(form, parent, bounds, std::move(text), name);
}

ui::LabeledEdit* MakeLabeledEdit(ui::Form& form, ui::Control* parent, const char* name,
                                 std::string label, std::string text, ui::Rect bounds,
                                 ui::LabelPosition position = ui::LabelPosition::Left) {
  auto* edit = Make<ui::LabeledEdit>(form, parent, bounds, std::move(text), name);
  edit->SetLabelCaption(std::move(label));
  edit->SetLabelPosition(position);
  return edit;
}

ui::GroupBox* MakeGroup(ui::Form& form, ui::Control* parent, const char* name, std::string caption,
                        ui::Rect bounds) {
  return Make<ui::GroupBox>(form, parent, bounds, std::move(caption), name);
}

ui::Font PixelFont(int pixels, bool bold = false) {
  ui::Font font;
  font.pixels = pixels;
  font.bold = bold;
  return font;
}

ui::Font BoldFont() {
  ui::Font font;
  font.bold = true;
  return font;
}

// A 17 x 17 byte grid: one fixed row and column of headers, 16 x 16 editable cells.
ui::StringGrid* MakeByteGrid(ui::Form& form, ui::Control* parent, const char* name, int left,
                             int top) {
  auto* grid = Make<ui::StringGrid>(form, parent, {left, top, 17 * 33 + 4, 17 * 21 + 4}, "", name);
  grid->SetSize(17, 17);
  grid->SetFixed(1, 1);
  grid->SetDefaultCellSize(32, 20);
  grid->SetOptions(ui::kGridEditing | ui::kGridRangeSelect);
  grid->SetScrollBars(ui::ScrollBars::None);
  return grid;
}

// Eight caption-less boxes under the bit numbers 7 .. 0 of a header panel.
// Bit 7 at the left, as the bit numbers above them read; boxes[i] receives the box of bit i.
void MakeBitBoxes(ui::Form& form, ui::Control* parent, const std::string& prefix, int left, int top,
                  const std::array<ui::CheckBox**, 8>& boxes) {
  for (int bit = 7; bit >= 0; --bit) {
    const int column = 7 - bit;
    *boxes[bit] = MakeCheck(form, parent, (prefix + std::to_string(bit)).c_str(), "",
                            {left + 22 * column, top, 17, 17}, false);
  }
}

}  // namespace

void TForm1::BuildComponents() {
  SetCaption("Quorvex USB Maintain Tool");
  SetBounds({200, 120, 607, 637});
  SetColor(ui::clBtnFace);

  Timer1 = &Place<ui::Timer>(nullptr, "Timer1");
  Timer1->SetInterval(1000);
  Timer1->SetEnabled(true);

  OpenBinFileDialog = &Place<ui::FileDialog>(nullptr, "OpenBinFileDialog", false);
  OpenBinFileDialog->SetFilter("Hex File|*.hex;*.h00|Binary File|*.bin");
  OpenBinFileDialog->SetDefaultExt("*.hex");
  SaveBinFIleDialog = &Place<ui::FileDialog>(nullptr, "SaveBinFIleDialog", true);
  SaveBinFIleDialog->SetFilter("Binary File|*.bin");
  SaveBinFIleDialog->SetDefaultExt("*.bin");
}

void TForm1::BuildUpdatePanel() {
  pnlUSB = Make<ui::Panel>(*this, nullptr, {24, 16, 553, 129}, "", "pnlUSB");
  pnlUSB->SetBevelOuter(ui::Bevel::None);

  pnlUSBExist = Make<ui::Panel>(*this, pnlUSB, {16, 12, 25, 25}, "", "pnlUSBExist");
  pnlUSBExist->SetBordered(true);
  pnlUSBExist->SetBevelOuter(ui::Bevel::Lowered);

  lblDetectDevice = MakeLabel(*this, pnlUSB, "lblDetectDevice", "No device is available", 56, 12);
  lblDetectDevice->SetFont(PixelFont(16));
  lblDetectDevice->SetWidth(360);
  lblUpdaeFileStatus = MakeLabel(*this, pnlUSB, "lblUpdaeFileStatus", "No Updated File !", 56, 40);
  lblUpdaeFileStatus->SetFont(PixelFont(16));
  lblUpdaeFileStatus->SetWidth(470);
  lblISPProcStatus =
      MakeLabel(*this, pnlUSB, "lblISPProcStatus", "Abort Firmware update process", 56, 72);
  lblISPProcStatus->SetFont(PixelFont(21));
  lblISPProcStatus->SetBounds({56, 72, 470, 24});
  lblFWVer = MakeLabel(*this, pnlUSB, "lblFWVer", "Current Firmware:", 56, 104);

  btnSimpleAuto = MakeButton(*this, pnlUSB, "btnSimpleAuto", "Start", {440, 8, 97, 33});
  btnSimpleAuto->SetEnabled(false);

  // Below the File button, clear of the file line: the service window shows the box, and the
  // line's longest text ("Firmware Update file   Brevanto_RX1Pro.hex    is Ready!") reaches
  // past x 440.
  chkDetectUSB =
      MakeCheck(*this, pnlUSB, "chkDetectUSB", "Detect Device", {440, 100, 97, 17}, false);
  lbledtVID = MakeLabeledEdit(*this, pnlUSB, "lbledtVID", "VID:", "e6a4", {300, 100, 41, 21});
  lbledtPID = MakeLabeledEdit(*this, pnlUSB, "lbledtPID", "PID:", "6012", {380, 100, 41, 21});
  cbxReadISPFile = Make<ui::ComboBox>(*this, pnlUSB, {56, 100, 200, 21}, "", "cbxReadISPFile");
  USBLoadFileBitBtn =
      MakeButton(*this, pnlUSB, "USBLoadFileBitBtn", "File", {440, 72, 97, 25}, true);
  USBLoadFileBitBtn->SetFont(BoldFont());

  Image1 = Make<ui::Image>(*this, pnlUSB, {0, 0, 585, 185}, "", "Image1");
  Image1->SetPictureSize(599, 213);
  Image1->SetStretch(true);
}

void TForm1::BuildPageControl() {
  MainPageControl =
      Make<ui::PageControl>(*this, nullptr, {8, 152, 585, 440}, "", "MainPageControl");
  MainPageControl->SetShowHint(true);
  TabSheet1 =
      Make<ui::TabSheet>(*this, MainPageControl, {4, 24, 577, 412}, "Register", "TabSheet1");
  PageMI2CCtrl =
      Make<ui::TabSheet>(*this, MainPageControl, {4, 24, 577, 412}, "I2C Access", "PageMI2CCtrl");
  PageISPCtrl = Make<ui::TabSheet>(*this, MainPageControl, {4, 24, 577, 412}, "ISP", "PageISPCtrl");
  Parameter =
      Make<ui::TabSheet>(*this, MainPageControl, {4, 24, 577, 412}, "Parameter", "Parameter");
  Information =
      Make<ui::TabSheet>(*this, MainPageControl, {4, 24, 577, 412}, "Information", "Information");
  BinFile =
      Make<ui::TabSheet>(*this, MainPageControl, {4, 24, 577, 412}, "Gen. Bin File", "BinFile");
  MainPageControl->SetActivePage(PageISPCtrl);
}

void TForm1::BuildRegisterPage() {
  ui::Control* page = TabSheet1;
  btnReadAll = MakeButton(*this, page, "btnReadAll", "Read Bank", {8, 6, 75, 25});
  lblRegAddr = MakeLabel(*this, page, "lblRegAddr", "Reg 0x00", 100, 12);
  lblRegData = MakeLabel(*this, page, "lblRegData", "= 0x00", 170, 12);
  Panel2 = Make<ui::Panel>(*this, page, {300, 2, 180, 18}, "", "Panel2");
  Label1 = MakeLabel(*this, Panel2, "Label1", "7 6 5 4 3 2 1 0", 6, 2);
  MakeBitBoxes(*this, page, "chkBit", 303, 22,
               {&chkBit0, &chkBit1, &chkBit2, &chkBit3, &chkBit4, &chkBit5, &chkBit6, &chkBit7});
  RegStringGrid1 = MakeByteGrid(*this, page, "RegStringGrid1", 4, 44);
}

void TForm1::BuildI2cPage() {
  ui::Control* page = PageMI2CCtrl;
  Label6 = MakeLabel(*this, page, "Label6", "Slave Address: 0x", 8, 12);
  edtMI2CAddr = MakeEdit(*this, page, "edtMI2CAddr", "20", {112, 6, 33, 23});
  edtMI2CAddr->SetFont(PixelFont(15));
  Label15 = MakeLabel(*this, page, "Label15", "(enter)", 150, 12);
  btnReadMI2C = MakeButton(*this, page, "btnReadMI2C", "Read", {200, 6, 60, 25});
  lblMI2CRegAddr = MakeLabel(*this, page, "lblMI2CRegAddr", "Reg 0x00", 8, 36);
  lblMI2CRegData = MakeLabel(*this, page, "lblMI2CRegData", "= 0x00", 80, 36);
  Panel3 = Make<ui::Panel>(*this, page, {300, 2, 180, 18}, "", "Panel3");
  Label3 = MakeLabel(*this, Panel3, "Label3", "7 6 5 4 3 2 1 0", 6, 2);
  MakeBitBoxes(*this, page, "chkMI2CBit", 303, 22,
               {&chkMI2CBit0, &chkMI2CBit1, &chkMI2CBit2, &chkMI2CBit3, &chkMI2CBit4, &chkMI2CBit5,
                &chkMI2CBit6, &chkMI2CBit7});
  StringGridMIIC = MakeByteGrid(*this, page, "StringGridMIIC", 4, 52);
}

void TForm1::BuildIspPage() {
  ui::Control* page = PageISPCtrl;
  lblUSBChecksum = MakeLabel(*this, page, "lblUSBChecksum", "Checksum :", 8, 8);
  lblUSBISPStatusReg = MakeLabel(*this, page, "lblUSBISPStatusReg", "Status Register: 0x00", 8, 28);
  lblUSBISPProcess = MakeLabel(*this, page, "lblUSBISPProcess", "Process Addr: 0x000000", 8, 48);
  lblUSBProcessInfo = MakeLabel(*this, page, "lblUSBProcessInfo", "Status:", 8, 68);
  lblUSBProcessInfo->SetWidth(300);
  btnUSBISPAuto = MakeButton(*this, page, "btnUSBISPAuto", "Auto", {8, 92, 75, 25});

  struct Step {
    ui::CheckBox** box;
    const char* name;
    const char* caption;
  };
  const Step steps[] = {
      {&chkISPMode, "chkISPMode", "ISP Mode"},
      {&chkErase, "chkErase", "Erase"},
      {&chkBlank, "chkBlank", "Blank"},
      {&chkProgram, "chkProgram", "Program"},
      {&chkVerify, "chkVerify", "Verify"},
      {&chkReadFile, "chkReadFile", "Reload File"},
      {&chkProtect, "chkProtect", "Flash Protect"},
  };
  int top = 124;
  for (const Step& step : steps) {
    *step.box = MakeCheck(*this, page, step.name, step.caption, {8, top, 97, 17}, true);
    top += 20;
  }

  gbxISPRange = MakeGroup(*this, page, "gbxISPRange", "Flash Access Range", {112, 92, 200, 120});
  rbnRange0 = MakeRadio(*this, gbxISPRange, "rbnRange0", "All", {8, 18, 60, 17}, true);
  rbnRange1 = MakeRadio(*this, gbxISPRange, "rbnRange1", "Assign Range", {80, 18, 100, 17}, false);
  lbledISPStart =
      MakeLabeledEdit(*this, gbxISPRange, "lbledISPStart", "Start Addr:", "32", {80, 44, 60, 21});
  lbledISPRange =
      MakeLabeledEdit(*this, gbxISPRange, "lbledISPRange", "Size: ", "32", {80, 74, 60, 21});
  Label20 = MakeLabel(*this, gbxISPRange, "Label20", "KB", 146, 48);
  Label21 = MakeLabel(*this, gbxISPRange, "Label21", "KB", 146, 78);

  GroupBox1 = MakeGroup(*this, page, "GroupBox1", "Function Test", {320, 4, 250, 260});
  lblUSBStatus = MakeLabel(*this, GroupBox1, "lblUSBStatus", "0x00", 100, 50);
  lblUSBChipID = MakeLabel(*this, GroupBox1, "lblUSBChipID", "0x00", 100, 22);
  struct Command {
    ui::Button** button;
    const char* name;
    const char* caption;
  };
  const Command commands[] = {
      {&btnUSBChipID, "btnUSBChipID", "Chip ID"},
      {&btnEnterISP, "btnEnterISP", "Enter ISP"},
      {&btnUSBErase, "btnUSBErase", "Erase"},
      {&btnUSBBlank, "btnUSBBlank", "Blank Check"},
      {&btnUSBReadStatus, "btnUSBReadStatus", "Read Status"},
      {&btnUSBProgram, "btnUSBProgram", "Program"},
      {&btnUSBVerify, "btnUSBVerify", "Verify"},
      {&btnUSBWriteEnable, "btnUSBWriteEnable", "Write Enable"},
      {&btnUSBWriteDisable, "btnUSBWriteDisable", "Write Disable"},
      {&btnReadBack, "btnReadBack", "Read Flash"},
  };
  top = 18;
  for (const Command& command : commands) {
    *command.button = MakeButton(*this, GroupBox1, command.name, command.caption, {8, top, 85, 21});
    top += 23;
  }
  lbledtUSBWriteStatus = MakeLabeledEdit(*this, GroupBox1, "lbledtUSBWriteStatus",
                                         "Write Status : 0x", "", {200, 78, 33, 21});
  Button1 = MakeButton(*this, GroupBox1, "Button1", " Save", {160, 228, 75, 21});

  gbxFlashCMD = MakeGroup(*this, page, "gbxFlashCMD", "Flash Instruction", {8, 270, 562, 100});
  struct Instruction {
    ui::LabeledEdit** edit;
    const char* name;
    const char* label;
    const char* code;
  };
  const Instruction instructions[] = {
      {&lbledIspCmdRDID, "lbledIspCmdRDID", "Chip ID:", "9F"},
      {&lbledIspCmdWREN, "lbledIspCmdWREN", "Write Enable:", "06"},
      {&lbledIspCmdWRDS, "lbledIspCmdWRDS", "Write Disable:", "04"},
      {&lbledIspCmdRDSD, "lbledIspCmdRDSD", "Read Status:", "05"},
      {&lbledIspCmdWRSD, "lbledIspCmdWRSD", "Write Status: ", "01"},
      {&lbledIspCmdERAL, "lbledIspCmdERAL", "Erase All:", "C7"},
      {&lbledIspCmdPP, "lbledIspCmdPP", "Page Program: ", "02"},
      {&lbledIspCmdRead, "lbledIspCmdRead", "Read:", "03"},
  };
  int index = 0;
  for (const Instruction& instruction : instructions) {
    const int left = 100 + 140 * (index % 4);
    const int row = 20 + 36 * (index / 4);
    *instruction.edit = MakeLabeledEdit(*this, gbxFlashCMD, instruction.name, instruction.label,
                                        instruction.code, {left, row, 30, 21});
    ++index;
  }
}

void TForm1::BuildParameterPage() {
  ui::Control* page = Parameter;
  Label2 = MakeLabel(*this, page, "Label2", "Prodcut Information String (Max. 31 character)", 8, 8);
  lbledSysStr1 =
      MakeLabeledEdit(*this, page, "lbledSysStr1", "String 1:", "Quorvex-inc", {64, 28, 200, 21});
  lbledSysStr2 = MakeLabeledEdit(*this, page, "lbledSysStr2", "String 2:", "Quorvex-inc UAC2 22",
                                 {64, 54, 200, 21});
  lbledSysStr3 =
      MakeLabeledEdit(*this, page, "lbledSysStr3", "String 3:", "QVUA170203", {64, 80, 200, 21});
  Label4 = MakeLabel(*this, page, "Label4", "(Manufacturer)", 272, 32);
  Label5 = MakeLabel(*this, page, "Label5", "(Model Name)", 272, 58);
  Label7 = MakeLabel(*this, page, "Label7", "(Serial Number)", 272, 84);

  Label8 = MakeLabel(*this, page, "Label8", "System General Setting", 8, 112);
  lblEepAvail = MakeLabel(*this, page, "lblEepAvail", "EEPROM Exist", 400, 112);
  lblEepAvail->SetFont(BoldFont());
  lbledSysVID = MakeLabeledEdit(*this, page, "lbledSysVID", "VID:", "e6a0", {64, 132, 41, 21});
  lbledSysPID = MakeLabeledEdit(*this, page, "lbledSysPID", "PID:", "6012", {150, 132, 41, 21});
  btnReadPara = MakeButton(*this, page, "btnReadPara", "Read back", {400, 130, 75, 25});
  btnSetPara = MakeButton(*this, page, "btnSetPara", "Set", {490, 130, 75, 25});

  GroupBox2 = MakeGroup(*this, page, "GroupBox2", "Output when  DSD in", {8, 162, 136, 44});
  rbnDSDOut0 = MakeRadio(*this, GroupBox2, "rbnDSDOut0", "DSD", {8, 18, 50, 17}, true);
  rbnDSDOut1 = MakeRadio(*this, GroupBox2, "rbnDSDOut1", "DoP", {68, 18, 50, 17}, false);
  GroupBox3 = MakeGroup(*this, page, "GroupBox3", "I2S Output length", {152, 162, 136, 44});
  rbnI2Slen0 = MakeRadio(*this, GroupBox3, "rbnI2Slen0", "32 bit", {8, 18, 56, 17}, true);
  rbnI2Slen1 = MakeRadio(*this, GroupBox3, "rbnI2Slen1", "24 bit", {68, 18, 56, 17}, false);
  GroupBox4 = MakeGroup(*this, page, "GroupBox4", "SPDIF Output length", {296, 162, 136, 44});
  rbnSPDIFlen0 = MakeRadio(*this, GroupBox4, "rbnSPDIFlen0", "32 bit", {8, 18, 56, 17}, false);
  rbnSPDIFlen1 = MakeRadio(*this, GroupBox4, "rbnSPDIFlen1", "24 bit", {68, 18, 56, 17}, true);
  GroupBox5 = MakeGroup(*this, page, "GroupBox5", "I2S MCLK Output Frequency", {8, 212, 280, 44});
  const char* const frequencies[] = {"128 Fs", "256 Fs", "512 Fs", "1024 Fs"};
  ui::RadioButton** mclk[] = {&rbnMCLKOutFreq0, &rbnMCLKOutFreq1, &rbnMCLKOutFreq2,
                              &rbnMCLKOutFreq3};
  for (int i = 0; i < 4; ++i) {
    const std::string name = "rbnMCLKOutFreq" + std::to_string(i);
    *mclk[i] =
        MakeRadio(*this, GroupBox5, name.c_str(), frequencies[i], {8 + 66 * i, 18, 62, 17}, i == 0);
  }
  GroupBox6 = MakeGroup(*this, page, "GroupBox6", "I2S Format ", {296, 212, 180, 44});
  rbnI2SFormat0 = MakeRadio(*this, GroupBox6, "rbnI2SFormat0", "Standard", {8, 18, 70, 17}, true);
  rbnI2SFormat1 =
      MakeRadio(*this, GroupBox6, "rbnI2SFormat1", "Left Justify", {84, 18, 84, 17}, false);

  struct Option {
    ui::CheckBox** box;
    const char* name;
    const char* caption;
  };
  const Option options[] = {
      {&chkI2SLRSwap, "chkI2SLRSwap", "I2S Output Channel Swap"},
      {&chkDSDLRSwap, "chkDSDLRSwap", "DSD Output Channel Swap"},
      {&chkMCLKOutOff, "chkMCLKOutOff", "MCLK Output Off"},
      {&chkI2SOutOff, "chkI2SOutOff", "I2S Output Off"},
      {&chkSPDIFOutOff, "chkSPDIFOutOff", "SPDIF Output Off"},
  };
  int top = 264;
  for (const Option& option : options) {
    *option.box = MakeCheck(*this, page, option.name, option.caption, {8, top, 180, 17}, false);
    top += 20;
  }
}

void TForm1::BuildInformationPage() {
  ui::Control* page = Information;
  const ui::Font large = PixelFont(20);
  lblCurrentFreq0 = MakeLabel(*this, page, "lblCurrentFreq0", "Input Freq:  ", 8, 8);
  lblCurrentFreq1 = MakeLabel(*this, page, "lblCurrentFreq1", "176.4KHz", 150, 8);
  lblCurrentFormat0 = MakeLabel(*this, page, "lblCurrentFormat0", "Input Format:", 8, 36);
  lblCurrentFormat1 = MakeLabel(*this, page, "lblCurrentFormat1", "PCM", 150, 36);
  lblConnect = MakeLabel(*this, page, "lblConnect", "USB connected", 300, 8);
  lblMute = MakeLabel(*this, page, "lblMute", "Unmute", 300, 36);
  for (ui::Label* label : {lblCurrentFreq0, lblCurrentFreq1, lblCurrentFormat0, lblCurrentFormat1,
                           lblConnect, lblMute}) {
    label->SetFont(large);
    label->SetBounds({label->Bounds().left, label->Bounds().top, 140, 24});
  }
  // Clear of the connection line's longer text, "USB Disconnected".
  btnUpdateStatus = MakeButton(*this, page, "btnUpdateStatus", "Update", {490, 8, 75, 25});

  ui::Button** hid[] = {&btnHID0, &btnHID1, &btnHID2, &btnHID3, &btnHID4};
  for (int i = 0; i < 5; ++i) {
    const std::string name = "btnHID" + std::to_string(i);
    *hid[i] = MakeButton(*this, page, name.c_str(), std::string(MediaKeys()[i].caption),
                         {8 + 92 * i, 72, 85, 25});
  }

  GroupBox7 = MakeGroup(*this, page, "GroupBox7", "Special I2C access", {8, 108, 560, 200});
  Label16 = MakeLabel(*this, GroupBox7, "Label16", "Slave Address: 0x", 8, 24);
  edtMI2CAddr1 = MakeEdit(*this, GroupBox7, "edtMI2CAddr1", "60", {112, 20, 33, 21});
  Label17 = MakeLabel(*this, GroupBox7, "Label17", "(enter)", 150, 24);
  Add = MakeLabel(*this, GroupBox7, "Add", "Command", 8, 100);
  Label18 = MakeLabel(*this, GroupBox7, "Label18", "Command Len.", 8, 52);
  Label19 = MakeLabel(*this, GroupBox7, "Label19", "Data Len.", 8, 76);
  Label22 = MakeLabel(*this, GroupBox7, "Label22", "Data", 8, 128);
  srblen0 = Make<ui::ScrollBar>(*this, GroupBox7, {100, 50, 120, 17}, "", "srblen0");
  srblen1 = Make<ui::ScrollBar>(*this, GroupBox7, {100, 74, 120, 17}, "", "srblen1");
  for (ui::ScrollBar* bar : {srblen0, srblen1}) {
    bar->SetRange(1, 5);
    bar->SetPosition(1);
  }
  lbllencmd = MakeLabel(*this, GroupBox7, "lbllencmd", "1", 228, 52);
  lbllendat = MakeLabel(*this, GroupBox7, "lbllendat", "1", 228, 76);

  ui::Edit** commands[] = {&edtI2Ccmd0, &edtI2Ccmd1, &edtI2Ccmd2, &edtI2Ccmd3, &edtI2Ccmd4};
  ui::Edit** data[] = {&edtI2Cdat0, &edtI2Cdat1, &edtI2Cdat2, &edtI2Cdat3, &edtI2Cdat4};
  for (int i = 0; i < 5; ++i) {
    const std::string cmd = "edtI2Ccmd" + std::to_string(i);
    const std::string dat = "edtI2Cdat" + std::to_string(i);
    *commands[i] = MakeEdit(*this, GroupBox7, cmd.c_str(), "00", {100 + 40 * i, 96, 33, 21});
    *data[i] = MakeEdit(*this, GroupBox7, dat.c_str(), "00", {100 + 40 * i, 124, 33, 21});
    // Only as many bytes as the length bars allow can be typed.
    (*commands[i])->SetEnabled(i == 0);
    (*data[i])->SetEnabled(i == 0);
  }
  btnReadSpecI2C = MakeButton(*this, GroupBox7, "btnReadSpecI2C", "Read", {8, 160, 75, 25});
  btnWriteSpecI2C = MakeButton(*this, GroupBox7, "btnWriteSpecI2C", "Write", {92, 160, 75, 25});
}

void TForm1::BuildBinFilePage() {
  ui::Control* page = BinFile;
  Label13 =
      MakeLabel(*this, page, "Label13", "Modify User parameter and save to new Binary File", 8, 8);
  CurrentFileBitBtn =
      MakeButton(*this, page, "CurrentFileBitBtn", "Current File", {8, 32, 100, 25}, true);
  lblCurrentFilePath = MakeLabel(*this, page, "lblCurrentFilePath", "...", 116, 38);
  btnCheck = MakeButton(*this, page, "btnCheck", "Check", {8, 62, 75, 25});
  btnCheck->SetEnabled(false);
  lblStatusReport = MakeLabel(*this, page, "lblStatusReport", "", 116, 68);
  lblStatusReport->SetWidth(300);
  lblSaveDone = MakeLabel(*this, page, "lblSaveDone", "", 116, 88);
  lblSaveDone->SetWidth(300);

  GroupBox9 =
      MakeGroup(*this, page, "GroupBox9", "User information New Setting ", {8, 108, 560, 220});
  GroupBox9->SetEnabled(false);
  labedtNewVID =
      MakeLabeledEdit(*this, GroupBox9, "labedtNewVID", "VID:", "E6A4", {100, 20, 41, 21});
  labedtNewPID =
      MakeLabeledEdit(*this, GroupBox9, "labedtNewPID", "PID:", "6012", {200, 20, 41, 21});
  struct Line {
    ui::Label** label;
    const char* labelName;
    const char* caption;
    ui::Edit** edit;
    const char* editName;
    const char* text;
  };
  const Line lines[] = {
      {&Label9, "Label9", "Manufacture:", &edtNewStr0, "edtNewStr0", "Quorvex-inc"},
      {&Label10, "Label10", "Product Name:", &edtNewStr1, "edtNewStr1", "Quorvex-inc UAC22"},
      {&Label11, "Label11", "Serial Number:", &edtNewStr2, "edtNewStr2", "QVUA170405"},
      {&Label12, "Label12", "Play Port:", &edtNewStr3, "edtNewStr3", "Primary Play Interface"},
      {&Label14, "Label14", "Record Port:", &edtNewStr4, "edtNewStr4", "Record Interface"},
  };
  int top = 50;
  for (const Line& line : lines) {
    *line.label = MakeLabel(*this, GroupBox9, line.labelName, line.caption, 8, top + 4);
    *line.edit = MakeEdit(*this, GroupBox9, line.editName, line.text, {100, top, 250, 21});
    top += 30;
  }
  for (ui::Edit* edit : {edtNewStr0, edtNewStr3, edtNewStr4}) edit->SetHint("Manu");

  btnSaveBitBin = MakeButton(*this, page, "btnSaveBitBin", "New File", {8, 336, 100, 25}, true);
  btnSaveBitBin->SetEnabled(false);
  lblSaveBinPath = MakeLabel(*this, page, "lblSaveBinPath", "...", 116, 342);
  btnSaveBin = MakeButton(*this, page, "btnSaveBin", " Save", {8, 368, 75, 25});
  btnSaveBin->SetEnabled(false);
}

}  // namespace qv
