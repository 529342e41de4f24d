#include "app/Unit1.h"

#include <string>

#include "util/Text.h"

namespace qv {

namespace {

// Screens of this density and more get the larger window.
constexpr int kLargeScreenPixelsPerInch = 120;
constexpr int kLargeScreenExtra = 140;

void LabelByteGrid(ui::StringGrid& grid) {
  for (int i = 0; i < 16; ++i) {
    grid.SetCell(i + 1, 0, FormatHex(static_cast<std::uint64_t>(i), 2));
    grid.SetCell(0, i + 1, FormatHex(static_cast<std::uint64_t>(16 * i), 2));
  }
}

}  // namespace

TForm1::TForm1(AppState& app, CoreState& core, Shell& shell)
    : ui::Form("Form1"), app(app), core(core), shell(shell), dispatcher_(shell) {
  BuildComponents();
  BuildUpdatePanel();
  BuildPageControl();
  BuildRegisterPage();
  BuildI2cPage();
  BuildIspPage();
  BuildParameterPage();
  BuildInformationPage();
  BuildBinFilePage();
  BindEvents();
  // One gate for every handler: nothing is sent to a device another program holds.
  core.UsbDevice.SetOpenGate([this](std::string_view path) { return OwnDevice(path); });
}

TForm1::~TForm1() {
  core.UsbDevice.SetOpenGate(nullptr);
}

void TForm1::BindEvents() {
  for (ui::RadioButton* radio : {rbnRange0, rbnRange1}) {
    radio->OnClick = [this](ui::Control& sender) { rbnRangeClick(sender); };
  }
  for (ui::Button* button : {Button1, btnSaveBin}) {
    button->OnClick = [this](ui::Control& sender) { btnSaveBinClick(sender); };
  }
  Timer1->OnTimer = [this](ui::Control& sender) { Timer1Timer(sender); };
  chkDetectUSB->OnClick = [this](ui::Control& sender) { chkDetectUSBClick(sender); };
  for (ui::LabeledEdit* edit : {lbledtVID, lbledtPID}) {
    edit->OnKeyDown = [this](ui::Control& sender, std::uint16_t& key, ui::ShiftState shift) {
      lbledtVIDPIDKeyDown(sender, key, shift);
    };
  }
  USBLoadFileBitBtn->OnClick = [this](ui::Control& sender) { USBLoadFileBitBtnClick(sender); };
  const auto bind = [this](ui::Control* control, void (TForm1::*handler)(ui::Control&)) {
    control->OnClick = [this, handler](ui::Control& sender) { (this->*handler)(sender); };
  };
  bind(btnUSBErase, &TForm1::btnUSBEraseClick);
  bind(btnUSBBlank, &TForm1::btnUSBBlankClick);
  bind(btnUSBProgram, &TForm1::btnUSBProgramClick);
  bind(btnUSBVerify, &TForm1::btnUSBVerifyClick);
  bind(btnReadBack, &TForm1::btnReadBackClick);
  bind(btnSimpleAuto, &TForm1::btnSimpleAutoClick);
  bind(btnUSBISPAuto, &TForm1::btnUSBISPAutoClick);
  bind(btnEnterISP, &TForm1::btnEnterISPClick);
  bind(btnUSBChipID, &TForm1::btnUSBChipIDClick);
  bind(btnUSBWriteEnable, &TForm1::btnUSBWriteEnableClick);
  bind(btnUSBWriteDisable, &TForm1::btnUSBWriteDisableClick);
  bind(btnUSBReadStatus, &TForm1::btnUSBReadStatusClick);
  const auto bindKeys = [this](
                            ui::Control* control,
                            void (TForm1::*handler)(ui::Control&, std::uint16_t&, ui::ShiftState)) {
    control->OnKeyDown = [this, handler](ui::Control& sender, std::uint16_t& key,
                                         ui::ShiftState shift) {
      (this->*handler)(sender, key, shift);
    };
  };
  bindKeys(lbledtUSBWriteStatus, &TForm1::lbledtUSBWriteStatusKeyDown);

  // Register page.
  bind(btnReadAll, &TForm1::btnReadAllClick);
  RegStringGrid1->OnSelectCell = [this](ui::Control& sender, int col, int row, bool& can) {
    RegStringGridSelectCell(sender, col, row, can);
  };
  bindKeys(RegStringGrid1, &TForm1::RegStringGridKeyDown);
  for (ui::CheckBox* box : {chkBit0, chkBit1, chkBit2, chkBit3, chkBit4, chkBit5, chkBit6, chkBit7})
    box->OnMouseUp = [this](ui::Control& sender, ui::MouseButton button, ui::ShiftState shift,
                            int x, int y) { chkBit0MouseUp(sender, button, shift, x, y); };

  // I2C Access page and the special access.
  MainPageControl->OnChange = [this](ui::Control& sender) { MainPageControlChange(sender); };
  bindKeys(edtMI2CAddr, &TForm1::edtMI2CAddrKeyDown);
  bind(btnReadMI2C, &TForm1::btnReadMI2CClick);
  StringGridMIIC->OnSelectCell = [this](ui::Control& sender, int col, int row, bool& can) {
    StringGridMIICSelectCell(sender, col, row, can);
  };
  bindKeys(StringGridMIIC, &TForm1::StringGridMIICKeyDown);
  for (ui::CheckBox* box : {chkMI2CBit0, chkMI2CBit1, chkMI2CBit2, chkMI2CBit3, chkMI2CBit4,
                            chkMI2CBit5, chkMI2CBit6, chkMI2CBit7})
    box->OnMouseUp = [this](ui::Control& sender, ui::MouseButton button, ui::ShiftState shift,
                            int x, int y) { chkMI2CBitMouseUp(sender, button, shift, x, y); };
  bindKeys(edtMI2CAddr1, &TForm1::edtMI2CAddr1KeyDown);
  srblen0->OnChange = [this](ui::Control& sender) { srblen0Change(sender); };
  srblen1->OnChange = [this](ui::Control& sender) { srblen1Change(sender); };
  bind(btnWriteSpecI2C, &TForm1::btnWriteSpecI2CClick);
  bind(btnReadSpecI2C, &TForm1::btnReadSpecI2CClick);

  // Parameter page.
  bindKeys(lbledSysVID, &TForm1::lbledSysVIDPIDKeyDown);
  bindKeys(lbledSysPID, &TForm1::lbledSysVIDPIDKeyDown);
  for (ui::LabeledEdit* edit : {lbledSysStr1, lbledSysStr2, lbledSysStr3})
    bindKeys(edit, &TForm1::lbledSysStrKeyDown);
  bind(btnSetPara, &TForm1::btnSetParaClick);
  bind(btnReadPara, &TForm1::btnReadParaClick);
  BindSettingsOptions();

  // Bin file editor page.
  bind(CurrentFileBitBtn, &TForm1::CurrentFileBitBtnClick);
  bind(btnCheck, &TForm1::btnCheckClick);
  bind(btnSaveBitBin, &TForm1::btnSaveBitBinClick);

  // Information page.
  bind(btnUpdateStatus, &TForm1::btnUpdateStatusClick);
  for (ui::Button* button : {btnHID0, btnHID1, btnHID2, btnHID3, btnHID4})
    bind(button, &TForm1::btnHIDClick);
}

void TForm1::Create() {
  dispatcher_.Invoke([this] { FormCreate(*this); });
}

CloseAction TForm1::Close(CloseAction action) {
  dispatcher_.Invoke([this, &action] { FormClose(*this, action); });
  return action;
}

std::string TForm1::SessionEndRefusal() const {
  if (app.UpdateBusy)
    return "A firmware update is running: ending now would leave the device without working "
           "firmware.";
  if (app.DeviceActivityRunning)
    return "An operation on the device is running: ending now would cut it short.";
  return {};
}

void TForm1::FormCreate(ui::Control&) {
  // 1. The larger window for screens scaled to 125 % and more.
  const int extra =
      shell.ScreenPixelsPerInch() >= kLargeScreenPixelsPerInch ? kLargeScreenExtra : 0;

  // 2.
  SetCaption(app.WindowTitle);

  // 3. The ISP page's sequence steps and range.
  chkISPMode->SetChecked(true);
  chkProtect->SetChecked(false);
  for (ui::CheckBox* step : {chkReadFile, chkErase, chkBlank, chkProgram, chkVerify}) {
    step->SetChecked(true);
  }
  rbnRange0->SetChecked(true);
  rbnRangeClick(*rbnRange0);
  lbledISPRange->SetText("64");
  lbledISPStart->SetText("64");
  app.CustomVid = "e6a4";
  app.CustomPid = "f800";

  // 4.
  LabelByteGrid(*RegStringGrid1);
  LabelByteGrid(*StringGridMIIC);

  // 5.
  MainPageControl->SetActivePage(TabSheet1);

  // 6.
  app.DetectEnabled = 0;
  app.UpdateBusy = 0;

  // 7.
  lbledtVID->SetText(app.CustomVid);
  lbledtPID->SetText(app.CustomPid);
  app.CustomMatchText = "vid_" + app.CustomVid + "&pid_" + app.CustomPid;

  // 8. Its click handler switches polling on.
  chkDetectUSB->SetChecked(true);

  // 9.
  app.ParameterSettings = {0xA1, 0x00, 0x00, 0x00};
  ShowParameterSettings();

  // 10.
  lbledtVID->SetText("e6a4");
  lbledtPID->SetText("f800");

  // 11 to 13. Only the update panel is for users; the engineering pages stay out of sight. The
  // service build keeps them, with the window at its designed size and every control of the
  // panel and the ISP page in view, but for the version line, which nothing fills.
  if (app.ServiceMode) {
    lblFWVer->SetVisible(false);
  } else {
    for (ui::TabSheet* page : {TabSheet1, PageMI2CCtrl, Parameter, Information, BinFile}) {
      page->SetTabVisible(false);
    }
    MainPageControl->SetVisible(false);
    MainPageControl->SetHeight(extra + 100);

    SetWidth(extra + 606);
    SetHeight(extra + 200);

    for (ui::Control* control : std::initializer_list<ui::Control*>{
             gbxISPRange, gbxFlashCMD, chkISPMode, chkProtect, chkReadFile, chkErase, chkBlank,
             chkProgram, chkVerify, GroupBox1}) {
      control->SetVisible(false);
    }
    gbxFlashCMD->SetVisible(true);
    for (ui::Control* control : std::initializer_list<ui::Control*>{
             USBLoadFileBitBtn, cbxReadISPFile, chkDetectUSB, lbledtVID, lbledtPID, lblFWVer}) {
      control->SetVisible(false);
    }
  }

  // 14.
  pnlUSB->SetWidth(537);
  pnlUSB->SetHeight(120);
  pnlUSB->SetColor(ui::clBtnFace);
  pnlUSBExist->SetLeft(20);
  pnlUSBExist->SetTop(8);

  // 15.
  lblISPProcStatus->SetCaption("");

  // 16.
  btnSimpleAuto->SetLeft(424);
  btnSimpleAuto->SetTop(0);

  // 17.
  Image1->SetVisible(false);

  // 18. The built-in block stands in the image and the editor's buffer until a file loads.
  btnSaveBinClick(*this);
}

void TForm1::FormClose(ui::Control&, CloseAction& Action) {
  // A window closed under a running operation would hide it, not end it: the update reopens the
  // connection at its next attempt and goes on unseen, and a user who then unplugs cuts it short.
  // The window stays, says why on the panel's file line (which an update leaves alone: the file
  // was read when it began), and closes once the operation is over.
  if (app.UpdateBusy || app.DeviceActivityRunning) {
    Action = CloseAction::None;
    lblUpdaeFileStatus->SetCaption(app.UpdateBusy ? kCloseRefusedUpdateText
                                                  : kCloseRefusedOperationText);
    return;
  }
  if (core.UsbDevice.GetDeviceFound()) core.UsbDevice.Close();
  app.Ownership.ReleaseAll();
}

}  // namespace qv
