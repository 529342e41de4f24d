#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <utility>

#include "app/Unit1.h"
#include "flash/UpdateSequence.h"
#include "platform/ConversationCapture.h"
#include "sim/CaptureReplay.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TestFirmware.h"
#include "tests/support/ToolRun.h"
#include "util/StreamedFile.h"

namespace qv::test {
namespace {

// Requests from the start of an update to its flash identification's instruction.
constexpr std::uint64_t kIdentificationRequest = 5;

// A window whose connection has found the simulated model-table device and whose flash image
// holds n bytes of firmware, as polling and file loading leave them.
class FlashWindow : public ::testing::Test {
 protected:
  explicit FlashWindow(const std::string& setup = "") : w(96, setup) {}

  void FindDevice() {
    w.core.UsbDevice.SetUseAudioDriver(1);
    w.core.UsbDevice.SetMatchId("vid_e5d3&pid_7a01");
    w.core.UsbDevice.FindDevice();
  }
  void LoadImage(std::uint32_t n) {
    auto& image = w.core.FlashImage;
    std::fill(image.Data.begin(), image.Data.end(), 0xFF);
    for (std::uint32_t i = 0; i < n; ++i) image.Data[i] = static_cast<std::uint8_t>(i * 7 % 251);
    image.Length = n;
    w.core.ProgramFileReady = 1;
    w.form->btnSimpleAuto->SetEnabled(true);
  }
  sim::SimDevice& device() { return w.bus().Device(0); }
  std::vector<std::uint8_t> Flash(std::size_t from, std::size_t n) {
    const auto c = device().Chip().Flash().Contents();
    return {c.begin() + from, c.begin() + from + n};
  }
  std::vector<std::uint8_t> Image(std::size_t n) {
    return {w.core.FlashImage.Data.begin(), w.core.FlashImage.Data.begin() + n};
  }
  std::string Caption(ui::Control* c) { return c->Caption(); }
  void Click(ui::Control* c) { w.input().Click(*c); }

  Window w;
};

TEST_F(FlashWindow, CancelInTheWarningLeavesEverythingAsItWas) {
  FindDevice();
  LoadImage(4096);
  const auto before = Flash(0, 4096);
  w.shell.boxAnswers = {kIdCancel};
  Click(w.form->btnSimpleAuto);
  ASSERT_EQ(w.shell.boxes.size(), 1u);
  EXPECT_EQ(w.shell.boxes[0].caption, "Warning");
  EXPECT_EQ(w.shell.boxes[0].text, kUpdateWarningText);
  EXPECT_EQ(w.shell.boxes[0].style, kMbOkCancel | kMbIconExclamation);
  EXPECT_EQ(Flash(0, 4096), before);
  EXPECT_EQ(Caption(w.form->lblISPProcStatus), "Abort Firmware update process");
  EXPECT_EQ(w.form->lblISPProcStatus->GetFont().color, ui::clRed);
  EXPECT_EQ(w.form->lblISPProcStatus->GetFont().size, 16);
  EXPECT_EQ(Caption(w.form->btnSimpleAuto), "Start");
  EXPECT_TRUE(w.form->btnSimpleAuto->Enabled());
  EXPECT_EQ(w.app.UpdateBusy, 0);
  EXPECT_EQ(w.app.UpdateFinished, 0);
  EXPECT_EQ(w.bus().Log().Size(), 1u);  // only the probe of FindDevice
}

TEST_F(FlashWindow, OkRunsTheUpdateToFinish) {
  FindDevice();
  LoadImage(10000);
  std::vector<std::string> captions;
  w.shell.onProcessMessages = [&] { captions.push_back(Caption(w.form->btnSimpleAuto)); };
  Click(w.form->btnSimpleAuto);
  EXPECT_EQ(captions.front(), "Stop");
  EXPECT_EQ(Flash(0, 10000), Image(10000));
  EXPECT_EQ(Caption(w.form->lblISPProcStatus), "Firmware update success!");
  EXPECT_EQ(w.form->lblISPProcStatus->GetFont().color, ui::clBlue);
  EXPECT_EQ(w.form->lblISPProcStatus->GetFont().size, 16);
  EXPECT_EQ(Caption(w.form->btnSimpleAuto), "Finish");
  EXPECT_FALSE(w.form->btnSimpleAuto->Enabled());
  EXPECT_EQ(w.app.UpdateFinished, 1);
  EXPECT_EQ(w.app.UpdateBusy, 0);
  EXPECT_FALSE(device().Chip().Isp().InIspMode());
  EXPECT_EQ(device().Chip().Flash().Status(), 0xFC);
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Status:");  // the ISP page's label is not used
  EXPECT_EQ(Caption(w.form->lblUSBISPProcess), "Verifying Addr: 0x002700");
}

TEST_F(FlashWindow, ClicksDuringTheUpdateStartNothingElse) {
  FindDevice();
  LoadImage(2048);
  int clicks = 0;
  w.shell.onProcessMessages = [&] {
    if (clicks++ < 3) {
      Click(w.form->btnSimpleAuto);  // Start, now "Stop"
      Click(w.form->btnUSBErase);    // another flash operation
      Click(w.form->btnUSBChipID);
    }
  };
  Click(w.form->btnSimpleAuto);
  EXPECT_EQ(w.shell.boxes.size(), 1u);  // one warning, one update
  EXPECT_EQ(Caption(w.form->lblISPProcStatus), "Firmware update success!");
  EXPECT_EQ(Caption(w.form->lblUSBChipID), "0x00");
  EXPECT_EQ(Flash(0, 2048), Image(2048));
}

// A close while the update runs is refused, with the reason on the panel, and the update goes on
// as one attempt to its end; afterwards the window closes. The same for any other operation.
TEST_F(FlashWindow, AWindowClosedDuringAnOperationStaysUntilItEnds) {
  FindDevice();
  LoadImage(2048);
  std::vector<CloseAction> closes;
  w.shell.onProcessMessages = [&] {
    if (closes.empty()) closes.push_back(w.form->Close());
  };
  Click(w.form->btnSimpleAuto);
  EXPECT_EQ(closes, std::vector<CloseAction>{CloseAction::None});
  EXPECT_EQ(Caption(w.form->lblUpdaeFileStatus), kCloseRefusedUpdateText);
  EXPECT_EQ(Caption(w.form->lblISPProcStatus), "Firmware update success!");
  EXPECT_EQ(Flash(0, 2048), Image(2048));
  EXPECT_EQ(w.form->Close(), CloseAction::Free);

  closes.clear();
  w.form->MainPageControl->SetActivePage(w.form->TabSheet1);
  Click(w.form->btnReadAll);
  EXPECT_EQ(closes, std::vector<CloseAction>{CloseAction::None});
  EXPECT_EQ(Caption(w.form->lblUpdaeFileStatus), kCloseRefusedOperationText);
}

TEST_F(FlashWindow, AnOperationWritesTheImageAsItStoodWhenItBegan) {
  FindDevice();
  LoadImage(8192);
  const auto image = Image(8192);
  const auto other = [&] {
    // What a reload in the middle would put there: another file, or none at all.
    std::fill(w.core.FlashImage.Data.begin(), w.core.FlashImage.Data.end(), 0x00);
    w.core.FlashImage.Length = 0;
  };
  int pumps = 0;
  w.shell.onProcessMessages = [&] {
    if (Caption(w.form->lblISPProcStatus) != "Start Programming" || pumps++ > 0) return;
    // Both loads, and "New File", are refused while the update holds the device: no dialog
    // (which would stall the update), no file search.
    w.shell.dialogAnswers = {"/nonexistent/other.bin"};
    Click(w.form->CurrentFileBitBtn);
    Click(w.form->USBLoadFileBitBtn);
    w.form->btnSaveBitBin->SetEnabled(true);  // as a marked file leaves it
    Click(w.form->btnSaveBitBin);
    EXPECT_TRUE(w.shell.dialogs.empty());
    EXPECT_EQ(w.core.FlashImage.Length, 8192u);
    other();  // and what changes the image anyway does not reach the device
  };
  Click(w.form->btnSimpleAuto);
  EXPECT_EQ(Caption(w.form->lblISPProcStatus), "Firmware update success!");
  EXPECT_EQ(Flash(0, 8192), image);

  // The ISP page's Program and Verify the same, one image each from the click on; in ISP mode
  // and with the protection cleared, so that a wrong page would reach the flash.
  Click(w.form->btnEnterISP);
  Click(w.form->btnUSBWriteEnable);
  w.input().TypeText(*w.form->lbledtUSBWriteStatus, "00");
  w.input().KeyDown(*w.form->lbledtUSBWriteStatus, 13);
  for (ui::Button* button : {w.form->btnUSBProgram, w.form->btnUSBVerify}) {
    SCOPED_TRACE(button->Name());
    LoadImage(8192);
    bool changed = false;
    w.shell.onProcessMessages = [&] {
      if (!std::exchange(changed, true)) other();
    };
    Click(button);
    EXPECT_TRUE(changed);
    EXPECT_NE(Caption(w.form->lblUSBProcessInfo).find("Success"), std::string::npos);
  }
  EXPECT_EQ(Flash(0, 8192), image);
}

TEST_F(FlashWindow, ADeviceThatLeavesEndsTheUpdateAtOnceWithoutRetries) {
  FindDevice();
  LoadImage(4096);
  std::optional<std::chrono::microseconds> left;
  std::vector<std::string> shown;
  w.shell.onProcessMessages = [&] {
    shown.push_back(Caption(w.form->lblISPProcStatus));
    if (!left && shown.back().starts_with("Flash Erase All")) {
      device().GoneAfterRequests(device().RequestCount());
      left = w.clock().Now();
    }
  };
  Click(w.form->btnSimpleAuto);
  ASSERT_TRUE(left);
  EXPECT_EQ(Caption(w.form->lblISPProcStatus), "Firmware update Fail!");
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "ISP Fail and retry"), 0);
  EXPECT_LT(w.clock().Now() - *left, std::chrono::seconds(2));
}

class FailingReads : public FlashWindow {
 protected:
  FailingReads() : FlashWindow("flip-reads=1") {}
};

TEST_F(FailingReads, ThreeFailedAttemptsEndInRedAfterThreeRetries) {
  FindDevice();
  LoadImage(1024);
  std::vector<std::pair<std::string, ui::Color>> shown;
  w.shell.onProcessMessages = [&] {
    shown.emplace_back(Caption(w.form->lblISPProcStatus),
                       w.form->lblISPProcStatus->GetFont().color);
  };
  Click(w.form->btnSimpleAuto);
  EXPECT_EQ(std::count(shown.begin(), shown.end(),
                       std::make_pair(std::string("ISP Fail and retry"), ui::clRed)),
            3);
  EXPECT_EQ(Caption(w.form->lblISPProcStatus), "Firmware update Fail!");
  EXPECT_EQ(w.form->lblISPProcStatus->GetFont().color, ui::clRed);
  EXPECT_EQ(w.form->lblUSBProcessInfo->Caption().substr(0, 19), "Blanking Fail at 0x");
  EXPECT_FALSE(device().Chip().Isp().InIspMode());
  EXPECT_EQ(device().Chip().Flash().Status() & 0xFC, 0xFC);
}

// A word-program part whose identification fails once, in a window that last knew a page-program
// part: the first attempt fails before its erase, the retry identifies the part again, and the
// update succeeds in its second attempt.
class WordProgramPart : public FlashWindow {
 protected:
  WordProgramPart() : FlashWindow("flash=BF258D") {}
};

TEST_F(WordProgramPart, AFailedIdentificationFailsTheAttemptBeforeItsErase) {
  FindDevice();
  LoadImage(1024);
  w.core.FlashChipId = {0xEF, 0x40, 0x13};
  w.core.PageSize = 256;
  w.core.WordProgramMode = 0;
  bool planted = false;
  w.shell.onProcessMessages = [&] {
    // At "Enter ISP Mode": the ISP switch and its three register writes come first.
    if (!std::exchange(planted, true))
      device().FailRequestNumber(device().RequestCount() + kIdentificationRequest);
  };
  w.bus().ClearLog();
  Click(w.form->btnSimpleAuto);
  const auto& log = w.bus().Log().Entries();
  const auto failed = std::find_if(log.begin(), log.end(), [](const auto& e) { return !e.ok; });
  ASSERT_NE(failed, log.end());
  EXPECT_EQ(failed->data, (std::vector<std::uint8_t>{0x9F}));  // the identification
  const auto erase = std::find_if(log.begin(), log.end(), [](const auto& e) {
    return e.request == 0x80 && e.data == std::vector<std::uint8_t>{0xC7};
  });
  const auto retried = std::find_if(failed + 1, log.end(), [](const auto& e) {
    return e.data == std::vector<std::uint8_t>{0x9F};
  });
  EXPECT_LT(retried, erase);  // no erase before the part is known again
  EXPECT_EQ(w.core.WordProgramMode, 1);
  EXPECT_EQ(Caption(w.form->lblISPProcStatus), "Firmware update success!");
  EXPECT_EQ(Flash(0, 1024), Image(1024));
}

// The ISP page's Auto with its step boxes and range.
class AutoRun : public FlashWindow {};

TEST_F(AutoRun, RefusesWithoutDeviceOrFile) {
  Click(w.form->btnUSBISPAuto);
  FindDevice();
  Click(w.form->btnUSBISPAuto);
  ASSERT_EQ(w.shell.boxes.size(), 2u);
  EXPECT_EQ(w.shell.boxes[0].text, "USB device is NOT available !!    ");
  EXPECT_EQ(w.shell.boxes[1].text, "Program File Not Ready !!    ");
  EXPECT_EQ(w.shell.boxes[1].caption, "Dialog");
  EXPECT_EQ(w.shell.boxes[1].style, kMbOk);
}

TEST_F(AutoRun, AssignedRangeErasesItsSectorsAndWritesTheImageThere) {
  FindDevice();
  LoadImage(40000);
  w.form->chkReadFile->SetChecked(false);
  w.form->rbnRange1->SetChecked(true);
  w.form->lbledISPStart->SetText("64");
  w.form->lbledISPRange->SetText("64");
  w.form->chkProtect->SetChecked(true);
  w.bus().ClearLog();
  Click(w.form->btnUSBISPAuto);
  std::vector<std::uint32_t> sectors;
  for (const auto& e : w.bus().Log().Entries())
    if (e.request == 0x80 && e.data.size() == 4 && e.data[0] == 0x20)
      sectors.push_back((e.data[1] << 16) | (e.data[2] << 8) | e.data[3]);
  ASSERT_EQ(sectors.size(), 16u);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(sectors[i], 0x10000 + 0x1000 * i);
  EXPECT_EQ(Flash(0x10000, 40000), Image(40000));
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Verifying Success");
  EXPECT_EQ(Caption(w.form->btnUSBISPAuto), "Auto");
  EXPECT_EQ(w.app.UpdateBusy, 0);
  EXPECT_EQ(device().Chip().Flash().Status() & 0xFC, 0xFC);
  EXPECT_FALSE(device().Chip().Isp().InIspMode());
}

// "All" clicked while an assigned-range run pumps messages: the run erases the sectors it
// programs and verifies, never the whole chip, and the page still shows its range.
TEST_F(AutoRun, ARangeClickedWhileItRunsChangesNothing) {
  FindDevice();
  LoadImage(4096);
  w.form->chkReadFile->SetChecked(false);
  w.form->rbnRange1->SetChecked(true);
  w.form->lbledISPStart->SetText("64");
  w.form->lbledISPRange->SetText("4");
  bool clicked = false;
  w.shell.onProcessMessages = [&] {
    if (!std::exchange(clicked, true)) Click(w.form->rbnRange0);
  };
  w.bus().ClearLog();
  Click(w.form->btnUSBISPAuto);
  ASSERT_TRUE(clicked);
  const auto& log = w.bus().Log().Entries();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const auto& e) {
                            return e.request == 0x80 && e.data == std::vector<std::uint8_t>{0xC7};
                          }),
            0);
  EXPECT_TRUE(w.form->rbnRange1->Checked());
  EXPECT_TRUE(w.form->lbledISPStart->Enabled());
  EXPECT_EQ(w.core.RangeStart, 0x10000u);
  EXPECT_EQ(Flash(0x10000, 4096), Image(4096));
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Verifying Success");
}

TEST_F(AutoRun, WithoutEraseItStartsWithTheBlankCheck) {
  FindDevice();
  LoadImage(256);
  w.form->chkReadFile->SetChecked(false);
  w.form->chkErase->SetChecked(false);
  Click(w.form->btnUSBISPAuto);
  // The flash still holds the older firmware: the blank check fails and nothing is written.
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo).substr(0, 19), "Blanking Fail at 0x");
  EXPECT_EQ(w.core.SequenceFailed, 1);
}

TEST_F(AutoRun, AConversionErrorEndsTheRunAndRestoresTheButton) {
  FindDevice();
  LoadImage(256);
  w.form->chkReadFile->SetChecked(false);
  w.form->rbnRange1->SetChecked(true);
  w.form->lbledISPStart->SetText("1x");
  w.bus().ClearLog();
  Click(w.form->btnUSBISPAuto);
  ASSERT_EQ(w.shell.errors.size(), 1u);
  EXPECT_EQ(w.shell.errors[0], "'1x' is not a valid integer value");
  EXPECT_EQ(Caption(w.form->btnUSBISPAuto), "Auto");
  EXPECT_EQ(w.app.UpdateBusy, 0);
  EXPECT_EQ(w.app.DeviceActivityRunning, 0);
  EXPECT_EQ(w.bus().Log().Size(), 0u);
}

TEST_F(AutoRun, AnEmptyImageIsRefusedBeforeAnythingIsSent) {
  FindDevice();
  LoadImage(0);
  w.form->chkReadFile->SetChecked(false);
  w.bus().ClearLog();
  Click(w.form->btnUSBISPAuto);
  ASSERT_EQ(w.shell.boxes.size(), 1u);
  EXPECT_EQ(w.shell.boxes[0].text, "Program File Not Ready !!    ");
  EXPECT_EQ(w.bus().Log().Size(), 0u);
  EXPECT_EQ(Caption(w.form->btnUSBISPAuto), "Auto");
}

TEST_F(AutoRun, ARangePastTheFlashIsRefusedBeforeAnythingIsSent) {
  struct Case {
    const char* start;
    const char* size;
    std::uint32_t image;
    const char* text;
  };
  const Case cases[] = {
      {"-1", "64", 4096, "Range Error: Start Addr -1 KB is outside 0 to 16384 KB"},
      {"4194303", "64", 4096, "Range Error: Start Addr 4194303 KB is outside 0 to 16384 KB"},
      // The sectors fit; the image placed there would run past the last address.
      {"16380", "4", 8192,
       "Range Error: 0xFFF000 to 0x1000FFF is past the last flash address "
       "0xFFFFFF"},
  };
  FindDevice();
  w.form->chkReadFile->SetChecked(false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    LoadImage(c.image);
    w.form->rbnRange1->SetChecked(true);
    w.form->lbledISPStart->SetText(c.start);
    w.form->lbledISPRange->SetText(c.size);
    w.bus().ClearLog();
    Click(w.form->btnUSBISPAuto);
    EXPECT_EQ(w.bus().Log().Size(), 0u);
    EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), c.text);
    EXPECT_EQ(w.core.SequenceFailed, 1);
    EXPECT_EQ(Caption(w.form->btnUSBISPAuto), "Auto");
    EXPECT_EQ(w.app.UpdateBusy, 0);
    // The manual buttons refuse the same range (the erase only its sectors, which it alone
    // uses).
    std::vector<ui::Control*> buttons{w.form->btnUSBBlank, w.form->btnUSBProgram,
                                      w.form->btnUSBVerify};
    if (std::string(c.text).find("KB") != std::string::npos) buttons.push_back(w.form->btnUSBErase);
    for (ui::Control* button : buttons) {
      w.form->lblUSBProcessInfo->SetCaption("Status:");
      Click(button);
      EXPECT_EQ(Caption(w.form->lblUSBProcessInfo).substr(0, 12), "Range Error:");
    }
    EXPECT_EQ(w.bus().Log().Size(), 0u);
    w.form->rbnRange0->SetChecked(true);
  }
}

TEST_F(AutoRun, AClickWhileItRunsOnlyRestoresTheCaption) {
  FindDevice();
  LoadImage(2048);
  w.form->chkReadFile->SetChecked(false);
  std::vector<std::string> afterClick;
  w.shell.onProcessMessages = [&] {
    if (afterClick.empty() && Caption(w.form->btnUSBISPAuto) == "Stop") {
      Click(w.form->btnUSBISPAuto);
      afterClick.push_back(Caption(w.form->btnUSBISPAuto));
    }
  };
  Click(w.form->btnUSBISPAuto);
  EXPECT_EQ(afterClick, std::vector<std::string>{"Auto"});
  // The run went on to its end, as one run.
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Verifying Success");
  EXPECT_EQ(Flash(0, 2048), Image(2048));
  EXPECT_EQ(w.app.UpdateBusy, 0);
  EXPECT_TRUE(w.shell.boxes.empty());
}

TEST_F(AutoRun, ReloadFileLoadsTheNamedFileOrGoesOnWithTheImageInMemory) {
  FindDevice();
  const TempDir dir;
  const auto file = dir.Write("reload.bin", TestImage<std::string>(3000));
  LoadImage(100);
  w.form->cbxReadISPFile->SetText(file.string());
  Click(w.form->btnUSBISPAuto);
  EXPECT_EQ(w.core.UpdateFilePath, file.string());
  EXPECT_EQ(w.core.FlashImage.Length, 3000u);
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Verifying Success");
  EXPECT_EQ(Flash(0, 3000), Image(3000));
  EXPECT_EQ(w.form->cbxReadISPFile->Items(), std::vector<std::string>{file.string()});

  // An empty name while a file is loaded: asked for, the flag cleared, and the run goes on with
  // the image already in memory.
  LoadImage(512);
  w.form->cbxReadISPFile->SetText("");
  Click(w.form->btnUSBISPAuto);
  ASSERT_EQ(w.shell.boxes.size(), 1u);
  EXPECT_EQ(w.shell.boxes[0].text, "Program File Not Ready !!    ");
  EXPECT_EQ(w.core.ProgramFileReady, 0);
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Verifying Success");
  EXPECT_EQ(Flash(0, 512), Image(512));
}

TEST_F(AutoRun, AFailedProgramDoesNotStopTheVerify) {
  FindDevice();
  LoadImage(4096);
  w.form->chkReadFile->SetChecked(false);
  bool failed = false;
  w.shell.onProcessMessages = [&] {
    // The next request is the first page program's.
    if (!failed && Caption(w.form->lblUSBProcessInfo) == "Start Programming") {
      device().FailRequestNumber(device().RequestCount() + 1);
      failed = true;
    }
  };
  Click(w.form->btnUSBISPAuto);
  ASSERT_TRUE(failed);
  EXPECT_EQ(w.core.SequenceFailed, 0);
  // The flash was left erased, so the verify that still ran finds the first byte missing.
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Verifying Fail at 0x000000");
}

class IspButtons : public FlashWindow {};

TEST_F(IspButtons, EnterIspTogglesOnlyWithADevice) {
  Click(w.form->btnEnterISP);
  EXPECT_EQ(Caption(w.form->btnEnterISP), "Enter ISP");
  EXPECT_EQ(w.app.InIspMode, 0);
  FindDevice();
  Click(w.form->btnEnterISP);
  EXPECT_EQ(Caption(w.form->btnEnterISP), "Exit ISP");
  EXPECT_TRUE(device().Chip().Isp().InIspMode());
  EXPECT_EQ(device().Chip().Peek(13, 0x01), 0x03);
  Click(w.form->btnEnterISP);
  EXPECT_EQ(Caption(w.form->btnEnterISP), "Enter ISP");
  EXPECT_FALSE(device().Chip().Isp().InIspMode());
  EXPECT_FALSE(w.core.UsbDevice.IsOpen());
}

TEST_F(IspButtons, SingleCommandsShowWhatCameBack) {
  FindDevice();
  Click(w.form->btnEnterISP);
  Click(w.form->btnUSBChipID);
  EXPECT_EQ(Caption(w.form->lblUSBChipID), "0xEF,  0x40,  0x13,  ");
  Click(w.form->btnUSBReadStatus);
  EXPECT_EQ(Caption(w.form->lblUSBStatus), "0xFC");
  Click(w.form->btnUSBWriteEnable);
  Click(w.form->btnUSBReadStatus);
  EXPECT_EQ(Caption(w.form->lblUSBStatus), "0xFE");
  Click(w.form->btnUSBWriteDisable);

  // Write Status sends on Enter only, the text read as hexadecimal.
  Click(w.form->btnUSBWriteEnable);
  w.input().TypeText(*w.form->lbledtUSBWriteStatus, "9C");
  w.input().KeyDown(*w.form->lbledtUSBWriteStatus, 'C');
  Click(w.form->btnUSBReadStatus);
  EXPECT_EQ(Caption(w.form->lblUSBStatus), "0xFE");
  w.input().KeyDown(*w.form->lbledtUSBWriteStatus, 13);
  w.core.clock.Sleep(20);  // the status write takes the part's time
  Click(w.form->btnUSBReadStatus);
  EXPECT_EQ(Caption(w.form->lblUSBStatus), "0x9C");

  // Without a device nothing is read, and nothing is shown as read; the operations keep the
  // identification read last.
  w.bus().Unplug(device());
  Click(w.form->btnUSBReadStatus);
  EXPECT_EQ(Caption(w.form->lblUSBStatus), "--");
  Click(w.form->btnUSBChipID);
  EXPECT_EQ(Caption(w.form->lblUSBChipID), "--");
  EXPECT_EQ(w.core.FlashChipId, (FlashId{0xEF, 0x40, 0x13}));
}

TEST_F(IspButtons, ManualOperationsAndTheReadBackDump) {
  FindDevice();
  LoadImage(600);
  Click(w.form->btnEnterISP);
  w.input().TypeText(*w.form->lbledtUSBWriteStatus, "00");
  Click(w.form->btnUSBWriteEnable);
  w.input().KeyDown(*w.form->lbledtUSBWriteStatus, 13);
  w.core.clock.Sleep(20);  // a busy flash would ignore the erase
  Click(w.form->btnUSBErase);
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo).substr(0, 16), "Flash Erase All ");
  Click(w.form->btnUSBBlank);
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Blanking Success");
  Click(w.form->btnUSBProgram);  // no sequence ran: the flash is identified first
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Programming Success");
  EXPECT_EQ(w.core.PageSize, 256);
  Click(w.form->btnUSBVerify);
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Verifying Success");
  EXPECT_EQ(Flash(0, 600), Image(600));

  const TempDir dir;
  const auto dump = dir.Path() / "readback.bin";
  w.shell.dialogAnswers = {dump.string()};
  Click(w.form->btnReadBack);
  EXPECT_EQ(Caption(w.form->lblUSBProcessInfo), "Read Flash content Success");
  ASSERT_EQ(w.shell.dialogs.size(), 1u);
  EXPECT_TRUE(w.shell.dialogs[0].save);
  const std::string text = ReadFile(dump);
  EXPECT_EQ(text.size(), 2048u * (16 * 6 + 1));
  EXPECT_EQ(text.substr(0, 12), "0x00, 0x07, ");
}

// The window's one-click update over a capture of itself ends as it did. Over a capture whose last
// request (the ISP mode exit) is not the one the window sends, every step passes and only the exit
// fails, which the update passes over: it must not end in a success all the same.
TEST(WindowOverAReplay, EndsAsTheCapturedUpdateAndNeverInASuccessTheRequestsLeft) {
  const TempDir dir;
  const auto file = dir.Path() / "update.jsonl";
  const auto update = [](DeviceIo& io, DeviceInterfaces& interfaces, Clock& clock,
                         std::function<std::string()> mismatch) {
    AppState app;
    app.ReplayMismatch = std::move(mismatch);
    CoreState core(io, interfaces, clock);
    ui::ScriptedShell shell;
    TForm1 form(app, core, shell);
    form.Create();
    core.UsbDevice.SetUseAudioDriver(1);
    core.UsbDevice.SetMatchId("vid_e5d3&pid_7a01");
    core.UsbDevice.FindDevice();
    LoadTestImage(core.FlashImage, 3000);
    core.ProgramFileReady = 1;
    form.btnSimpleAuto->SetEnabled(true);
    form.Dispatcher().Click(*form.btnSimpleAuto);
    return form.lblISPProcStatus->Caption();
  };
  {
    sim::Simulation simulation(ParseSetupOrFail(""));
    StreamedFile out(file);
    ConversationCapture capture(simulation.Bus(), simulation.Bus(),
                                [&](std::string_view) -> Clock& { return simulation.Clock(); }, out,
                                {.toolVersion = "test", .port = "simulated"});
    EXPECT_EQ(update(capture, capture, simulation.Clock(), nullptr), "Firmware update success!");
  }
  const auto replayed = [&] {
    sim::CaptureReplay::Loaded loaded = sim::CaptureReplay::Load(file);
    EXPECT_EQ(loaded.error, "");
    sim::CaptureReplay& replay = *loaded.replay;
    const std::string shown =
        update(replay, replay, replay.BusClock(), [&] { return replay.Mismatch(); });
    return std::pair{shown, replay.Mismatch()};
  };
  const auto [shown, mismatch] = replayed();
  EXPECT_EQ(shown, "Firmware update success!");
  EXPECT_EQ(mismatch, "");

  std::string capture = ReadFile(file);
  const std::size_t last = capture.rfind("\"event\":\"request\"");
  const std::size_t in = capture.find("\"in\":\"", last);
  ASSERT_NE(in, std::string::npos);
  char& digit = capture[in + 6];
  digit = digit == '0' ? '1' : '0';
  dir.Write("update.jsonl", capture);
  const auto [leftShown, leftMismatch] = replayed();
  EXPECT_EQ(leftShown, "Firmware update Fail!");
  EXPECT_CONTAINS(leftMismatch, "is not what the tool sent");
}

}  // namespace
}  // namespace qv::test
