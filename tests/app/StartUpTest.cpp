#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/BuiltInImage.h"
#include "tests/app/WindowFixture.h"
#include "ui/Controls.h"

namespace qv::test {
namespace {

using ui::ControlKind;

TEST(StartUp, UserSeesOnlyTheUpdatePanel) {
  Window w;
  TForm1& f = *w.form;

  EXPECT_EQ(f.Caption(), "Brevanto firmware update Tool V1.9");
  std::vector<std::string> shownTopLevel;
  for (ui::Control* child : f.Children()) {
    if (child->Visible()) shownTopLevel.push_back(child->Name());
  }
  EXPECT_EQ(shownTopLevel, std::vector<std::string>{"pnlUSB"});

  std::vector<std::string> shownOnPanel;
  for (ui::Control* child : f.pnlUSB->Children()) {
    if (child->Visible()) shownOnPanel.push_back(child->Name());
  }
  EXPECT_EQ(shownOnPanel,
            (std::vector<std::string>{"pnlUSBExist", "lblDetectDevice", "lblUpdaeFileStatus",
                                      "lblISPProcStatus", "btnSimpleAuto"}));

  EXPECT_EQ(f.lblDetectDevice->Caption(), "No device is available");
  EXPECT_EQ(f.lblUpdaeFileStatus->Caption(), "No Updated File !");
  EXPECT_EQ(f.lblISPProcStatus->Caption(), "");
  EXPECT_EQ(f.btnSimpleAuto->Caption(), "Start");
  EXPECT_FALSE(f.btnSimpleAuto->Enabled());
  EXPECT_EQ(f.btnSimpleAuto->Bounds().left, 424);
  EXPECT_EQ(f.btnSimpleAuto->Bounds().top, 0);
  EXPECT_EQ(f.pnlUSBExist->Bounds().left, 20);
  EXPECT_EQ(f.pnlUSBExist->Bounds().top, 8);
  EXPECT_EQ(f.pnlUSB->Bounds().width, 537);
  EXPECT_EQ(f.pnlUSB->Bounds().height, 120);
  EXPECT_EQ(f.pnlUSB->GetColor(), ui::clBtnFace);
  EXPECT_EQ(f.lblDetectDevice->GetFont().pixels, 16);
  EXPECT_EQ(f.lblUpdaeFileStatus->GetFont().pixels, 16);
  EXPECT_EQ(f.lblISPProcStatus->GetFont().pixels, 21);

  // The hidden pieces keep their start state for the engineering build.
  EXPECT_TRUE(f.chkDetectUSB->Checked());
  EXPECT_EQ(f.lbledtVID->Text(), "e6a4");
  EXPECT_EQ(f.lbledtPID->Text(), "f800");
  EXPECT_EQ(w.app.CustomMatchText, "vid_e6a4&pid_f800");
  EXPECT_TRUE(f.USBLoadFileBitBtn->GetFont().bold);
  EXPECT_TRUE(w.shell.errors.empty());
  EXPECT_TRUE(w.shell.boxes.empty());
}

TEST(StartUp, WindowSizeFollowsScreenDensity) {
  struct Case {
    int pixelsPerInch;
    int width;
    int height;
  };
  for (const Case c :
       {Case{96, 606, 200}, Case{119, 606, 200}, Case{120, 746, 340}, Case{144, 746, 340}}) {
    SCOPED_TRACE(c.pixelsPerInch);
    Window w(c.pixelsPerInch);
    EXPECT_EQ(w.form->Bounds().width, c.width);
    EXPECT_EQ(w.form->Bounds().height, c.height);
    EXPECT_EQ(w.form->MainPageControl->Bounds().height, c.height - 100);
  }
}

TEST(StartUp, EngineeringPagesAreHiddenWithRegisterPageActive) {
  Window w;
  TForm1& f = *w.form;
  EXPECT_FALSE(f.MainPageControl->Visible());
  EXPECT_EQ(f.MainPageControl->ActivePage(), f.TabSheet1);
  std::vector<std::string> tabs;
  for (ui::TabSheet* page : f.MainPageControl->Pages()) {
    if (page->TabVisible()) tabs.push_back(page->Caption());
  }
  EXPECT_EQ(tabs, std::vector<std::string>{"ISP"});
  EXPECT_EQ(f.MainPageControl->Pages().size(), 6u);

  for (ui::Control* hidden : std::initializer_list<ui::Control*>{
           f.gbxISPRange, f.chkISPMode, f.chkProtect, f.chkReadFile, f.chkErase, f.chkBlank,
           f.chkProgram, f.chkVerify, f.GroupBox1, f.Image1}) {
    EXPECT_FALSE(hidden->Visible()) << hidden->Name();
  }
  EXPECT_TRUE(f.gbxFlashCMD->Visible());
  EXPECT_FALSE(f.gbxFlashCMD->Showing());
}

TEST(StartUp, TheServiceBuildShowsEveryPageAtTheDesignedSize) {
  for (int ppi : {96, 144}) {
    Window w(ppi, "", true);
    TForm1& f = *w.form;
    EXPECT_EQ(f.Caption(), "Brevanto firmware update Tool V1.9");
    EXPECT_EQ(f.Bounds().width, 607);
    EXPECT_EQ(f.Bounds().height, 637);
    EXPECT_TRUE(f.MainPageControl->Showing());
    EXPECT_EQ(f.MainPageControl->ActivePage(), f.TabSheet1);
    std::vector<std::string> tabs;
    for (ui::TabSheet* page : f.MainPageControl->Pages())
      if (page->TabVisible()) tabs.push_back(page->Caption());
    EXPECT_EQ(tabs, (std::vector<std::string>{"Register", "I2C Access", "ISP", "Parameter",
                                              "Information", "Gen. Bin File"}));
    for (ui::Control* shown : std::initializer_list<ui::Control*>{
             f.gbxISPRange, f.chkISPMode, f.chkProtect, f.GroupBox1, f.chkDetectUSB,
             f.USBLoadFileBitBtn, f.cbxReadISPFile, f.lbledtVID, f.lbledtPID})
      EXPECT_TRUE(shown->Visible()) << shown->Name();
    // Everything else starts as in the update build.
    EXPECT_FALSE(f.chkProtect->Checked());
    EXPECT_EQ(f.lblEepAvail->Caption(), "EEPROM not Available");
    EXPECT_FALSE(f.Image1->Visible());
    EXPECT_EQ(w.app.DetectEnabled, 1);
  }
}

TEST(StartUp, ByteGridsCarryHexHeaders) {
  Window w;
  for (ui::StringGrid* grid : {w.form->RegStringGrid1, w.form->StringGridMIIC}) {
    SCOPED_TRACE(grid->Name());
    EXPECT_EQ(grid->ColCount(), 17);
    EXPECT_EQ(grid->RowCount(), 17);
    EXPECT_EQ(grid->FixedCols(), 1);
    EXPECT_EQ(grid->FixedRows(), 1);
    EXPECT_EQ(grid->DefaultColWidth(), 32);
    EXPECT_EQ(grid->DefaultRowHeight(), 20);
    EXPECT_EQ(grid->GetScrollBars(), ui::ScrollBars::None);
    EXPECT_NE(grid->Options() & ui::kGridEditing, 0u);
    const char* const across[] = {"00", "01", "02", "03", "04", "05", "06", "07",
                                  "08", "09", "0A", "0B", "0C", "0D", "0E", "0F"};
    const char* const down[] = {"00", "10", "20", "30", "40", "50", "60", "70",
                                "80", "90", "A0", "B0", "C0", "D0", "E0", "F0"};
    for (int i = 0; i < 16; ++i) {
      EXPECT_EQ(grid->Cell(i + 1, 0), across[i]);
      EXPECT_EQ(grid->Cell(0, i + 1), down[i]);
    }
    EXPECT_EQ(grid->Cell(0, 0), "");
    EXPECT_EQ(grid->Cell(5, 5), "");
  }
}

TEST(StartUp, ParameterPageShowsTheStartRecord) {
  Window w;
  TForm1& f = *w.form;
  EXPECT_EQ(w.app.ParameterSettings, (std::array<std::uint8_t, 4>{0xA1, 0, 0, 0}));
  EXPECT_EQ(f.lblEepAvail->Caption(), "EEPROM not Available");
  const std::vector<ui::RadioButton*> checked = {f.rbnI2Slen0, f.rbnSPDIFlen1, f.rbnMCLKOutFreq2,
                                                 f.rbnI2SFormat0, f.rbnDSDOut0};
  const std::vector<ui::RadioButton*> unchecked = {
      f.rbnI2Slen1,      f.rbnSPDIFlen0,  f.rbnMCLKOutFreq0, f.rbnMCLKOutFreq1,
      f.rbnMCLKOutFreq3, f.rbnI2SFormat1, f.rbnDSDOut1};
  for (auto* radio : checked) EXPECT_TRUE(radio->Checked()) << radio->Name();
  for (auto* radio : unchecked) EXPECT_FALSE(radio->Checked()) << radio->Name();
  EXPECT_EQ(f.rbnMCLKOutFreq2->Caption(), "512 Fs");
  for (auto* box :
       {f.chkI2SLRSwap, f.chkDSDLRSwap, f.chkMCLKOutOff, f.chkI2SOutOff, f.chkSPDIFOutOff}) {
    EXPECT_FALSE(box->Checked()) << box->Name();
  }
}

TEST(StartUp, ShowParameterSettingsFollowsEveryBit) {
  struct Case {
    std::array<std::uint8_t, 4> record;
    std::vector<const char*> checked;  // radio buttons and boxes expected checked
    const char* eeprom;
  };
  const Case cases[] = {
      {{0x00, 0x00, 0x00, 0x80},
       {"rbnI2Slen1", "rbnSPDIFlen1", "rbnMCLKOutFreq0", "rbnI2SFormat0", "rbnDSDOut1"},
       "EEPROM Exist"},
      {{0x7F, 0xE0, 0x00, 0x00},
       {"rbnI2Slen0", "rbnSPDIFlen0", "rbnMCLKOutFreq3", "rbnI2SFormat1", "rbnDSDOut1",
        "chkI2SLRSwap", "chkDSDLRSwap", "chkMCLKOutOff", "chkI2SOutOff", "chkSPDIFOutOff"},
       "EEPROM not Available"},
      {{0x90, 0x40, 0x00, 0xFF},
       {"rbnI2Slen1", "rbnSPDIFlen1", "rbnMCLKOutFreq1", "rbnI2SFormat0", "rbnDSDOut0",
        "chkI2SOutOff"},
       "EEPROM Exist"},
  };
  const std::vector<std::string> all = {
      "rbnI2Slen0",      "rbnI2Slen1",      "rbnSPDIFlen0",    "rbnSPDIFlen1",  "rbnMCLKOutFreq0",
      "rbnMCLKOutFreq1", "rbnMCLKOutFreq2", "rbnMCLKOutFreq3", "rbnI2SFormat0", "rbnI2SFormat1",
      "rbnDSDOut0",      "rbnDSDOut1",      "chkI2SLRSwap",    "chkDSDLRSwap",  "chkMCLKOutOff",
      "chkI2SOutOff",    "chkSPDIFOutOff"};
  Window w;
  for (const Case& c : cases) {
    w.app.ParameterSettings = c.record;
    w.form->ShowParameterSettings();
    EXPECT_EQ(w.form->lblEepAvail->Caption(), c.eeprom);
    for (const std::string& name : all) {
      const bool expected = std::find(c.checked.begin(), c.checked.end(), name) != c.checked.end();
      EXPECT_EQ(w.Get<ui::CheckBox>(name).Checked(), expected)
          << name << " for record byte 0 = " << int(c.record[0]);
    }
    EXPECT_EQ(w.app.ParameterSettings, c.record);
  }
}

TEST(StartUp, RangeIsAllWithEditsAtSixtyFourDisabled) {
  Window w;
  TForm1& f = *w.form;
  EXPECT_TRUE(f.rbnRange0->Checked());
  EXPECT_FALSE(f.rbnRange1->Checked());
  EXPECT_EQ(w.core.RangeStart, 0u);
  EXPECT_EQ(w.core.RangeSize, 0x8000u);
  EXPECT_EQ(f.lbledISPStart->Text(), "64");
  EXPECT_EQ(f.lbledISPRange->Text(), "64");
  for (ui::Control* c : std::initializer_list<ui::Control*>{f.lbledISPStart, f.lbledISPRange,
                                                            f.Label20, f.Label21}) {
    EXPECT_FALSE(c->Enabled()) << c->Name();
  }
  // The sequence steps as the ISP page's Auto expects them.
  for (auto* box :
       {f.chkISPMode, f.chkReadFile, f.chkErase, f.chkBlank, f.chkProgram, f.chkVerify}) {
    EXPECT_TRUE(box->Checked()) << box->Name();
  }
  EXPECT_FALSE(f.chkProtect->Checked());
}

TEST(StartUp, BuiltInBlockFillsImageAndEditBufferButNotTheirLengths) {
  Window w;
  const auto& block = BuiltInImage();
  EXPECT_TRUE(std::equal(block.begin(), block.end(), w.core.FlashImage.Data.begin()));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), w.app.EditBuffer.begin()));
  EXPECT_EQ(w.core.FlashImage.Length, 0u);
  EXPECT_EQ(w.app.EditLength, 0u);
  EXPECT_EQ(w.app.EditBuffer.size(), kFlashImageSize);
  // Beyond the block nothing was touched.
  EXPECT_EQ(w.core.FlashImage.Data[kBuiltInImageSize], 0x00);
  EXPECT_EQ(w.app.EditBuffer[kBuiltInImageSize], 0x00);
}

TEST(StartUp, TimerAndDialogsAsTheWindowNeedsThem) {
  Window w;
  TForm1& f = *w.form;
  EXPECT_TRUE(f.Timer1->Enabled());
  EXPECT_EQ(f.Timer1->Interval(), 1000u);
  EXPECT_EQ(f.OpenBinFileDialog->Kind(), ControlKind::OpenDialog);
  EXPECT_EQ(f.OpenBinFileDialog->Filter(), "Hex File|*.hex;*.h00|Binary File|*.bin");
  EXPECT_EQ(f.OpenBinFileDialog->DefaultExt(), "*.hex");
  EXPECT_EQ(f.SaveBinFIleDialog->Kind(), ControlKind::SaveDialog);
  EXPECT_EQ(f.SaveBinFIleDialog->Filter(), "Binary File|*.bin");
  EXPECT_EQ(f.SaveBinFIleDialog->DefaultExt(), "*.bin");

  // What the desktop's dialog is asked for, and the answer kept.
  w.shell.dialogAnswers.push_back("C:\\fw\\new.hex");
  ASSERT_TRUE(f.OpenBinFileDialog->Execute(w.shell));
  ASSERT_EQ(w.shell.dialogs.size(), 1u);
  EXPECT_FALSE(w.shell.dialogs[0].save);
  EXPECT_EQ(w.shell.dialogs[0].request.filter, "Hex File|*.hex;*.h00|Binary File|*.bin");
  EXPECT_EQ(f.OpenBinFileDialog->FileName(), "C:\\fw\\new.hex");
  EXPECT_FALSE(f.SaveBinFIleDialog->Execute(w.shell));  // cancelled
  EXPECT_TRUE(w.shell.dialogs[1].save);
}

TEST(StartUp, EveryStartBeginsFromTheDefaults) {
  Window first;
  first.input().TypeText(*first.form->lbledSysStr1, "changed");
  first.app.ParameterSettings = {0, 0, 0, 0x80};
  first.form->ShowParameterSettings();
  Window second;
  EXPECT_EQ(second.form->lbledSysStr1->Text(), "Quorvex-inc");
  EXPECT_EQ(second.form->lblEepAvail->Caption(), "EEPROM not Available");
  EXPECT_TRUE(second.form->rbnMCLKOutFreq2->Checked());
}

}  // namespace
}  // namespace qv::test
