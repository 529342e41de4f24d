#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "app/AppState.h"
#include "flash/CoreState.h"
#include "platform/Shell.h"
#include "ui/Dispatcher.h"
#include "ui/Form.h"

namespace qv {

// What happens to the window after its close event; the event leaves it as it comes.
enum class CloseAction { None, Hide, Free, Minimize };

// What a label or cell shows for a value whose read failed: never the value an earlier read left.
inline constexpr const char* kUnreadText = "--";

// The panel's file line when a close is refused because the device is busy.
inline constexpr const char* kCloseRefusedUpdateText = "Close refused during the firmware update";
inline constexpr const char* kCloseRefusedOperationText =
    "Close refused during an operation on the device";

// The main window: the update panel and the engineering pages. This class holds the control
// tree and start-up; each handler is defined with its subsystem (flash/, pages/, editor/, app/)
// and bound to its controls once it exists.
class TForm1 : public ui::Form {
 public:
  // Builds every control in its layout state. Nothing talks to the device or the file system.
  TForm1(AppState& app, CoreState& core, Shell& shell);
  // The connection no longer asks a window that is gone whether it may open.
  ~TForm1() override;

  // The creation event: brings every control into its start state (run once, after
  // construction, through the dispatcher so a failure reaches the error box).
  void Create();
  // The close event; returns the action as the event left it: None while an update or another
  // operation holds the device.
  CloseAction Close(CloseAction action = CloseAction::Free);
  // Why the session (logoff, shutdown) must not end now, as the system shows it: an update or
  // another operation holds the device. Empty when it may end.
  std::string SessionEndRefusal() const;

  ui::EventDispatcher& Dispatcher() { return dispatcher_; }

  AppState& app;
  CoreState& core;
  Shell& shell;

  // Events of the window.
  void FormCreate(ui::Control& Sender);
  void FormClose(ui::Control& Sender, CloseAction& Action);

  // Flash access range (the ISP page).
  void rbnRangeClick(ui::Control& Sender);
  // Reads the "Assign Range" edits (kilobytes) into RangeStart and RangeSize.
  void ReadAssignedRange();
  // Flash addresses [start, end) of blank check, program and verify: the image at 0 ("All") or
  // at RangeStart ("Assign Range").
  std::pair<std::uint32_t, std::uint32_t> OperationRange() const;
  // True, with the reason in lblUSBProcessInfo, when the assigned range was typed outside the
  // flash, or the operation range (and with `withSectors` the sector range) is past the flash's
  // address space: nothing may then be sent.
  bool RangeRefused(bool withSectors);

  // Flash operations of the ISP page.
  void btnUSBEraseClick(ui::Control& Sender);
  void btnUSBBlankClick(ui::Control& Sender);
  void btnUSBProgramClick(ui::Control& Sender);
  void btnUSBVerifyClick(ui::Control& Sender);
  void btnReadBackClick(ui::Control& Sender);
  // The update sequences: the one-click update (Start) and the ISP page's Auto.
  void btnSimpleAutoClick(ui::Control& Sender);
  void btnUSBISPAutoClick(ui::Control& Sender);
  // Single flash commands of the ISP page.
  void btnEnterISPClick(ui::Control& Sender);
  void btnUSBChipIDClick(ui::Control& Sender);
  void btnUSBWriteEnableClick(ui::Control& Sender);
  void btnUSBWriteDisableClick(ui::Control& Sender);
  void btnUSBReadStatusClick(ui::Control& Sender);
  void lbledtUSBWriteStatusKeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState Shift);
  // Device presence polling on the update panel (app/Polling.cpp).
  void Timer1Timer(ui::Control& Sender);
  void chkDetectUSBClick(ui::Control& Sender);
  void lbledtVIDPIDKeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState Shift);
  void USBLoadFileBitBtnClick(ui::Control& Sender);
  // The gate of every open of the connection: true when the window owns the device at `path` (its
  // claim taken now if need be); otherwise shows who holds it and disables Start.
  bool OwnDevice(std::string_view path);
  // Reads the chip's firmware version into lblFWVer; no control runs it.
  void GetFWVersion();
  // The firmware file behind the flash image (app/FirmwareFile.cpp): the found model's file from
  // the working directory, the stored path with its checksum, and the ISP page's list of paths.
  void ReadProgramFile1();
  void ReadProgramFile();
  void RememberFilePath();
  // Register page (pages/RegisterPage.cpp).
  void btnReadAllClick(ui::Control& Sender);
  void RegStringGridSelectCell(ui::Control& Sender, int ACol, int ARow, bool& CanSelect);
  void RegStringGridKeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState Shift);
  void chkBit0MouseUp(ui::Control& Sender, ui::MouseButton Button, ui::ShiftState Shift, int X,
                      int Y);
  // I2C Access page (pages/I2cAccessPage.cpp); entering it prepares the I2C master.
  void MainPageControlChange(ui::Control& Sender);
  void edtMI2CAddrKeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState Shift);
  void btnReadMI2CClick(ui::Control& Sender);
  void StringGridMIICSelectCell(ui::Control& Sender, int ACol, int ARow, bool& CanSelect);
  void StringGridMIICKeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState Shift);
  void chkMI2CBitMouseUp(ui::Control& Sender, ui::MouseButton Button, ui::ShiftState Shift, int X,
                         int Y);
  // Special I2C access on the Information page (pages/RawI2cTransfer.cpp).
  void edtMI2CAddr1KeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState Shift);
  void srblen0Change(ui::Control& Sender);
  void srblen1Change(ui::Control& Sender);
  void btnWriteSpecI2CClick(ui::Control& Sender);
  void btnReadSpecI2CClick(ui::Control& Sender);
  // Parameter page (pages/ParameterPage.cpp).
  void lbledSysVIDPIDKeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState Shift);
  void lbledSysStrKeyDown(ui::Control& Sender, std::uint16_t& Key, ui::ShiftState Shift);
  void btnSetParaClick(ui::Control& Sender);
  void btnReadParaClick(ui::Control& Sender);
  // The option controls of the settings record, each bound to the field it stands for.
  void BindSettingsOptions();
  void SettingsOptionClick(ui::Control& Sender);
  // Shows ParameterSettings on the page's option controls.
  void ShowParameterSettings();
  // Information page (pages/InformationPage.cpp).
  void btnUpdateStatusClick(ui::Control& Sender);
  void btnHIDClick(ui::Control& Sender);
  // Bin file editor (editor/BinEditor.cpp): "Current File", loading it into the editor's buffer,
  // "Check", "New File", and " Save" (also Button1 of the ISP page): the built-in block into the
  // editor's buffer, and into the flash image while that holds no loaded file.
  void CurrentFileBitBtnClick(ui::Control& Sender);
  // False when the name's extension says neither HEX nor BIN: nothing was loaded.
  bool ReadModifyFile();
  void btnCheckClick(ui::Control& Sender);
  void btnSaveBitBinClick(ui::Control& Sender);
  void btnSaveBinClick(ui::Control& Sender);

  // The window.
  ui::Timer* Timer1;
  ui::FileDialog* OpenBinFileDialog;
  ui::FileDialog* SaveBinFIleDialog;

  // Update panel.
  ui::Panel* pnlUSB;
  ui::Panel* pnlUSBExist;
  ui::Label* lblDetectDevice;
  ui::Label* lblUpdaeFileStatus;
  ui::Label* lblISPProcStatus;
  ui::Label* lblFWVer;
  ui::Button* btnSimpleAuto;
  ui::CheckBox* chkDetectUSB;
  ui::LabeledEdit* lbledtVID;
  ui::LabeledEdit* lbledtPID;
  ui::ComboBox* cbxReadISPFile;
  ui::Button* USBLoadFileBitBtn;
  ui::Image* Image1;

  ui::PageControl* MainPageControl;

  // Register page.
  ui::TabSheet* TabSheet1;
  ui::Button* btnReadAll;
  ui::Label* lblRegAddr;
  ui::Label* lblRegData;
  ui::Panel* Panel2;
  ui::Label* Label1;
  ui::CheckBox* chkBit7;
  ui::CheckBox* chkBit6;
  ui::CheckBox* chkBit5;
  ui::CheckBox* chkBit4;
  ui::CheckBox* chkBit3;
  ui::CheckBox* chkBit2;
  ui::CheckBox* chkBit1;
  ui::CheckBox* chkBit0;
  ui::StringGrid* RegStringGrid1;

  // I2C access page.
  ui::TabSheet* PageMI2CCtrl;
  ui::Label* Label6;
  ui::Edit* edtMI2CAddr;
  ui::Label* Label15;
  ui::Button* btnReadMI2C;
  ui::Label* lblMI2CRegAddr;
  ui::Label* lblMI2CRegData;
  ui::Panel* Panel3;
  ui::Label* Label3;
  ui::CheckBox* chkMI2CBit7;
  ui::CheckBox* chkMI2CBit6;
  ui::CheckBox* chkMI2CBit5;
  ui::CheckBox* chkMI2CBit4;
  ui::CheckBox* chkMI2CBit3;
  ui::CheckBox* chkMI2CBit2;
  ui::CheckBox* chkMI2CBit1;
  ui::CheckBox* chkMI2CBit0;
  ui::StringGrid* StringGridMIIC;

  // ISP page.
  ui::TabSheet* PageISPCtrl;
  ui::Label* lblUSBChecksum;
  ui::Label* lblUSBISPStatusReg;
  ui::Label* lblUSBISPProcess;
  ui::Label* lblUSBProcessInfo;
  ui::Button* btnUSBISPAuto;
  ui::CheckBox* chkISPMode;
  ui::CheckBox* chkErase;
  ui::CheckBox* chkBlank;
  ui::CheckBox* chkProgram;
  ui::CheckBox* chkVerify;
  ui::CheckBox* chkReadFile;
  ui::CheckBox* chkProtect;
  ui::GroupBox* gbxISPRange;
  ui::RadioButton* rbnRange0;
  ui::RadioButton* rbnRange1;
  ui::LabeledEdit* lbledISPStart;
  ui::LabeledEdit* lbledISPRange;
  ui::Label* Label20;
  ui::Label* Label21;
  ui::GroupBox* GroupBox1;
  ui::Label* lblUSBStatus;
  ui::Label* lblUSBChipID;
  ui::Button* btnUSBChipID;
  ui::Button* btnEnterISP;
  ui::Button* btnUSBErase;
  ui::Button* btnUSBBlank;
  ui::Button* btnUSBReadStatus;
  ui::Button* btnUSBProgram;
  ui::Button* btnUSBVerify;
  ui::Button* btnUSBWriteEnable;
  ui::Button* btnUSBWriteDisable;
  ui::Button* btnReadBack;
  ui::LabeledEdit* lbledtUSBWriteStatus;
  ui::Button* Button1;
  ui::GroupBox* gbxFlashCMD;
  ui::LabeledEdit* lbledIspCmdRDID;
  ui::LabeledEdit* lbledIspCmdWREN;
  ui::LabeledEdit* lbledIspCmdWRDS;
  ui::LabeledEdit* lbledIspCmdRDSD;
  ui::LabeledEdit* lbledIspCmdWRSD;
  ui::LabeledEdit* lbledIspCmdERAL;
  ui::LabeledEdit* lbledIspCmdPP;
  ui::LabeledEdit* lbledIspCmdRead;

  // Parameter page.
  ui::TabSheet* Parameter;
  ui::Label* Label2;
  ui::Label* Label4;
  ui::Label* Label5;
  ui::Label* Label7;
  ui::Label* Label8;
  ui::Label* lblEepAvail;
  ui::LabeledEdit* lbledSysVID;
  ui::LabeledEdit* lbledSysPID;
  ui::LabeledEdit* lbledSysStr1;
  ui::LabeledEdit* lbledSysStr2;
  ui::LabeledEdit* lbledSysStr3;
  ui::Button* btnReadPara;
  ui::Button* btnSetPara;
  ui::GroupBox* GroupBox2;
  ui::RadioButton* rbnDSDOut0;
  ui::RadioButton* rbnDSDOut1;
  ui::GroupBox* GroupBox3;
  ui::RadioButton* rbnI2Slen0;
  ui::RadioButton* rbnI2Slen1;
  ui::GroupBox* GroupBox4;
  ui::RadioButton* rbnSPDIFlen0;
  ui::RadioButton* rbnSPDIFlen1;
  ui::GroupBox* GroupBox5;
  ui::RadioButton* rbnMCLKOutFreq0;
  ui::RadioButton* rbnMCLKOutFreq1;
  ui::RadioButton* rbnMCLKOutFreq2;
  ui::RadioButton* rbnMCLKOutFreq3;
  ui::GroupBox* GroupBox6;
  ui::RadioButton* rbnI2SFormat0;
  ui::RadioButton* rbnI2SFormat1;
  ui::CheckBox* chkI2SLRSwap;
  ui::CheckBox* chkDSDLRSwap;
  ui::CheckBox* chkMCLKOutOff;
  ui::CheckBox* chkI2SOutOff;
  ui::CheckBox* chkSPDIFOutOff;

  // Information page.
  ui::TabSheet* Information;
  ui::Label* lblCurrentFreq0;
  ui::Label* lblCurrentFreq1;
  ui::Label* lblCurrentFormat0;
  ui::Label* lblCurrentFormat1;
  ui::Label* lblConnect;
  ui::Label* lblMute;
  ui::Button* btnUpdateStatus;
  ui::Button* btnHID0;
  ui::Button* btnHID1;
  ui::Button* btnHID2;
  ui::Button* btnHID3;
  ui::Button* btnHID4;
  ui::GroupBox* GroupBox7;
  ui::Label* Label16;
  ui::Label* Label17;
  ui::Edit* edtMI2CAddr1;
  ui::Label* Add;
  ui::Label* Label18;
  ui::Label* Label19;
  ui::Label* Label22;
  ui::ScrollBar* srblen0;
  ui::ScrollBar* srblen1;
  ui::Label* lbllencmd;
  ui::Label* lbllendat;
  ui::Edit* edtI2Ccmd0;
  ui::Edit* edtI2Ccmd1;
  ui::Edit* edtI2Ccmd2;
  ui::Edit* edtI2Ccmd3;
  ui::Edit* edtI2Ccmd4;
  ui::Edit* edtI2Cdat0;
  ui::Edit* edtI2Cdat1;
  ui::Edit* edtI2Cdat2;
  ui::Edit* edtI2Cdat3;
  ui::Edit* edtI2Cdat4;
  ui::Button* btnReadSpecI2C;
  ui::Button* btnWriteSpecI2C;

  // Bin file editor page.
  ui::TabSheet* BinFile;
  ui::Label* Label13;
  ui::Button* CurrentFileBitBtn;
  ui::Label* lblCurrentFilePath;
  ui::Button* btnCheck;
  ui::Label* lblStatusReport;
  ui::Label* lblSaveDone;
  ui::GroupBox* GroupBox9;
  ui::LabeledEdit* labedtNewVID;
  ui::LabeledEdit* labedtNewPID;
  ui::Label* Label9;
  ui::Edit* edtNewStr0;
  ui::Label* Label10;
  ui::Edit* edtNewStr1;
  ui::Label* Label11;
  ui::Edit* edtNewStr2;
  ui::Label* Label12;
  ui::Edit* edtNewStr3;
  ui::Label* Label14;
  ui::Edit* edtNewStr4;
  ui::Button* btnSaveBitBin;
  ui::Label* lblSaveBinPath;
  ui::Button* btnSaveBin;

 private:
  // Layout, one page each (app/Unit1Layout.cpp).
  void BuildUpdatePanel();
  void BuildPageControl();
  void BuildRegisterPage();
  void BuildI2cPage();
  void BuildIspPage();
  void BuildParameterPage();
  void BuildInformationPage();
  void BuildBinFilePage();
  void BuildComponents();
  // Connects the handlers that exist to their controls' events.
  void BindEvents();

  ui::EventDispatcher dispatcher_;
};

}  // namespace qv
