#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/DeviceModels.h"
#include "image/HexLoader.h"
#include "sim/Catalogue.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/TempFiles.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kE6a4 = "vid_e6a4&pid_6000";
constexpr const char* kE7b2 = "vid_e7b2&pid_6000";

std::string RowMatch(std::size_t row) {
  return std::string(FieldText(DeviceModelTable()[row].MatchText));
}

// A small valid HEX image: 32 bytes at 0 and the end record.
std::string GoodHex(std::uint8_t seed = 0x10) {
  std::vector<std::uint8_t> bytes(16);
  std::string text;
  for (std::uint16_t address : {0x0000, 0x0010}) {
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(seed + address + i);
    text += HexRecord(0x00, address, bytes) + "\r\n";
  }
  return text + ":00000001FF\r\n";
}

// The window over a simulated bus with its working directory in a fresh temporary folder.
class Polling : public ::testing::Test {
 protected:
  explicit Polling(const std::string& setup = "") : w(96, setup) {
    w.shell.currentDirectory = dir.Path();
  }

  TForm1& f() { return *w.form; }
  QuorvexUsb& usb() { return w.core.UsbDevice; }
  void Tick() { w.input().Tick(*f().Timer1); }
  // Ticks until the condition holds; false when it did not within `limit` ticks.
  bool TickUntil(const std::function<bool()>& done, int limit = 40) {
    for (int i = 0; i < limit; ++i) {
      if (done()) return true;
      Tick();
    }
    return done();
  }
  bool TickUntilFound() {
    return TickUntil([this] { return usb().GetDeviceFound(); });
  }

  TempDir dir;
  Window w;
};

class NothingPlugged : public Polling {
 protected:
  NothingPlugged() : Polling("model=none") {}
};

TEST_F(NothingPlugged, ProbeOrderAndIntervalsFromAFreshStart) {
  struct Probe {
    std::chrono::milliseconds at;
    bool audio;
    std::string match;
    std::uint32_t interval;
    std::uint8_t modelIndex;
  };
  std::vector<Probe> probes;
  const ui::NotifyEvent tick = f().Timer1->OnTimer;
  f().Timer1->OnTimer = [&](ui::Control& sender) {
    tick(sender);
    probes.push_back({std::chrono::duration_cast<std::chrono::milliseconds>(w.clock().Now()),
                      usb().GetUseAudioDriver() == 1, usb().GetMatchId(), f().Timer1->Interval(),
                      w.app.ModelIndex});
  };
  EXPECT_EQ(f().Timer1->Interval(), 1000u);
  w.RunTimersFor(5900ms);

  // Row 1 first, then the update ids and the next rows take turns; row 0 after row 15.
  ASSERT_GE(probes.size(), 36u);
  for (std::size_t i = 0; i < 36; ++i) {
    const std::size_t n = i + 1;  // tick number
    const std::size_t k = (n + 1) / 2;
    SCOPED_TRACE("tick " + std::to_string(n));
    const Probe& p = probes[i];
    if (n % 2 == 1) {
      EXPECT_TRUE(p.audio);
      EXPECT_EQ(p.match, RowMatch(k % 16));
      EXPECT_EQ(p.modelIndex, k % 16);
    } else {
      EXPECT_FALSE(p.audio);
      EXPECT_EQ(p.match, k % 2 == 1 ? kE6a4 : kE7b2);
    }
    EXPECT_LT(p.modelIndex, 16);
    // One second to the first two ticks, then a tenth of a second.
    EXPECT_EQ(p.interval, n == 1 ? 1000u : 100u);
    const auto previous = i == 0 ? 0ms : probes[i - 1].at;
    if (n <= 2) {
      EXPECT_EQ(p.at - previous, 1000ms);
    } else {
      EXPECT_NEAR(double((p.at - previous).count()), 100.0, 1.0);
    }
  }
  EXPECT_EQ(f().lblDetectDevice->Caption(), "No device is available");
  EXPECT_EQ(f().lblUpdaeFileStatus->Caption(), "No Updated File !");
  EXPECT_EQ(f().lblISPProcStatus->Caption(), "");
  EXPECT_FALSE(f().btnSimpleAuto->Enabled());
  EXPECT_EQ(f().pnlUSBExist->GetColor(), ui::clBtnFace);
  EXPECT_TRUE(w.shell.boxes.empty());
  EXPECT_TRUE(w.shell.errors.empty());
}

TEST_F(NothingPlugged, ModelIndexStaysInTheTableOverManyRounds) {
  for (int i = 0; i < 200; ++i) {
    Tick();
    ASSERT_LT(w.app.ModelIndex, kDeviceModelCount);
  }
}

TEST_F(NothingPlugged, DeviceOfRowZeroIsNoticedWithinOneRound) {
  Tick();  // row 1
  sim::SimDevice& device = w.bus().Plug(*sim::IdentityByName("Brevanto_RX1"));
  int ticks = 0;
  while (!usb().GetDeviceFound() && ticks < 40) {
    Tick();
    ++ticks;
  }
  EXPECT_LE(ticks, 32);
  EXPECT_EQ(f().lblDetectDevice->Caption(), "Find Device Brevanto RX1");
  EXPECT_EQ(w.app.ModelIndex, 0);
  EXPECT_EQ(f().Timer1->Interval(), 100u);  // the next tick confirms at once a second
  Tick();
  EXPECT_EQ(f().Timer1->Interval(), 1000u);
  w.bus().Unplug(device);
}

TEST(PollingModels, AModelIsNamedAndItsFileLoaded) {
  struct Case {
    const char* model;
    const char* shown;  // trailing blanks are the table's
    const char* file;
  };
  const Case cases[] = {
      {"Brevanto_RX1", "Find Device Brevanto RX1", "Brevanto_RX1.hex"},
      {"Brevanto_RX5", "Find Device Brevanto RX5    ", "Brevanto_RX5.hex"},
      {"Brevanto_RX3s", "Find Device Brevanto RX3s", "Brevanto_RX3s.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    TempDir dir;
    const std::string content = std::string(c.file).ends_with(".hex") ? GoodHex() : "\x01\x02\x03";
    dir.Write(c.file, content);
    Window w(96, std::string("model=") + c.model);
    w.shell.currentDirectory = dir.Path();
    w.RunTimersFor(6000ms);

    TForm1& f = *w.form;
    ASSERT_TRUE(w.core.UsbDevice.GetDeviceFound());
    EXPECT_EQ(f.lblDetectDevice->Caption(), c.shown);
    EXPECT_EQ(f.lblUpdaeFileStatus->Caption(),
              std::string("Firmware Update file   ") + c.file + "    is Ready!");
    EXPECT_EQ(f.pnlUSBExist->GetColor(), ui::clLime);
    EXPECT_TRUE(f.btnSimpleAuto->Enabled());
    EXPECT_EQ(w.core.UpdateFileLoaded, 1);
    EXPECT_EQ(w.core.ProgramFileReady, 1);
    EXPECT_EQ(w.core.UpdateFilePath, (dir.Path() / c.file).string());
    EXPECT_EQ(w.core.FlashImage.Length, content.ends_with("\r\n") ? 32u : 3u);
    EXPECT_EQ(f.Timer1->Interval(), 1000u);
  }
}

TEST_F(Polling, AFileCopiedInLaterMakesStartUsableWithinOneTick) {
  ASSERT_TRUE(TickUntilFound());
  Tick();
  EXPECT_EQ(f().lblDetectDevice->Caption(), "Find Device Brevanto RX1");
  EXPECT_EQ(f().lblUpdaeFileStatus->Caption(), "No Updated File !");
  EXPECT_FALSE(f().btnSimpleAuto->Enabled());
  EXPECT_EQ(w.core.UpdateFileLoaded, 0);

  dir.Write("Brevanto_RX1.bin", std::string(4096, '\x42'));
  Tick();
  EXPECT_TRUE(f().btnSimpleAuto->Enabled());
  EXPECT_EQ(f().lblUpdaeFileStatus->Caption(),
            "Firmware Update file   Brevanto_RX1.bin    is Ready!");

  // Loaded once per connection: a later change of the file is not picked up.
  dir.Write("Brevanto_RX1.bin", std::string(16, '\x17'));
  Tick();
  EXPECT_EQ(w.core.FlashImage.Length, 4096u);
}

TEST_F(Polling, UnpluggingDisablesStartAndSearchingStartsAgain) {
  dir.Write("Brevanto_RX1.hex", GoodHex());
  ASSERT_TRUE(TickUntilFound());
  ASSERT_TRUE(f().btnSimpleAuto->Enabled());

  sim::SimDevice& device = w.bus().Device(0);
  w.bus().Unplug(device);
  Tick();
  EXPECT_FALSE(usb().GetDeviceFound());
  EXPECT_EQ(f().lblDetectDevice->Caption(), "No device is available");
  EXPECT_FALSE(f().btnSimpleAuto->Enabled());
  EXPECT_EQ(f().pnlUSBExist->GetColor(), ui::clBtnFace);
  Tick();
  EXPECT_EQ(f().lblUpdaeFileStatus->Caption(), "No Updated File !");
  EXPECT_EQ(w.core.UpdateFileLoaded, 0);
  EXPECT_EQ(f().Timer1->Interval(), 100u);

  // Back again: found and its file loaded anew.
  w.bus().Replug(device);
  ASSERT_TRUE(TickUntilFound());
  EXPECT_TRUE(f().btnSimpleAuto->Enabled());
  EXPECT_EQ(w.core.UpdateFileLoaded, 1);
  EXPECT_EQ(f().pnlUSBExist->GetColor(), ui::clLime);
}

class UpdateIdE6a4 : public Polling {
 protected:
  UpdateIdE6a4() : Polling("model=update-e6a4") {}
};

TEST_F(UpdateIdE6a4, UsesRowZerosFileAndReloadsItEveryTick) {
  dir.Write("Brevanto_RX1.bin", std::string(100, '\x11'));
  Tick();  // row 1
  EXPECT_EQ(w.app.ModelIndex, 1);
  Tick();  // e6a4
  ASSERT_TRUE(usb().GetDeviceFound());
  EXPECT_EQ(f().lblDetectDevice->Caption(), "Firmware update device E6A4 is exist");
  EXPECT_EQ(w.app.ModelIndex, 0);
  EXPECT_TRUE(f().btnSimpleAuto->Enabled());
  EXPECT_EQ(f().pnlUSBExist->GetColor(), ui::clLime);
  EXPECT_EQ(w.core.FlashImage.Length, 100u);

  dir.Write("Brevanto_RX1.bin", std::string(200, '\x22'));
  Tick();
  EXPECT_EQ(w.core.FlashImage.Length, 200u);
  EXPECT_EQ(w.core.FlashImage.Data[0], 0x22);

  // A file damaged meanwhile is refused on the next tick: nothing stays ready to program.
  dir.Write("Brevanto_RX1.bin", "");
  Tick();
  EXPECT_FALSE(f().btnSimpleAuto->Enabled());
  EXPECT_EQ(w.core.FlashImage.Length, 0u);
  EXPECT_EQ(w.core.ProgramFileReady, 0);
  EXPECT_NE(f().pnlUSBExist->GetColor(), ui::clLime);
  EXPECT_EQ(f().lblUpdaeFileStatus->Caption(), "Brevanto_RX1.bin: the file holds no firmware data");
}

TEST(PollingUpdateIds, E7b2IsNamedAndLeavesStartAsItWas) {
  for (const bool startEnabled : {false, true}) {
    SCOPED_TRACE(startEnabled);
    TempDir dir;
    dir.Write("Brevanto_RX1.hex", GoodHex());
    Window w(96, "model=update-e7b2");
    w.shell.currentDirectory = dir.Path();
    TForm1& f = *w.form;
    for (int i = 0; i < 3; ++i) w.input().Tick(*f.Timer1);  // row 1, e6a4, row 2
    ASSERT_FALSE(w.core.UsbDevice.GetDeviceFound());
    f.btnSimpleAuto->SetEnabled(startEnabled);
    for (int i = 0; i < 3; ++i) {
      w.input().Tick(*f.Timer1);  // e7b2, then presence checks
      ASSERT_TRUE(w.core.UsbDevice.GetDeviceFound());
      EXPECT_EQ(f.lblDetectDevice->Caption(), "Firmware update device E7B2 is exist");
      EXPECT_EQ(f.btnSimpleAuto->Enabled(), startEnabled);
    }
    EXPECT_EQ(w.core.FlashImage.Length, 0u);
    EXPECT_EQ(w.core.UpdateFilePath, "");
    EXPECT_EQ(w.core.UpdateFileLoaded, 0);
  }
}

TEST_F(Polling, DetectionOffStopsProbingAndOnResumesWhereItStood) {
  dir.Write("Brevanto_RX1.hex", GoodHex());
  ASSERT_TRUE(TickUntilFound());
  const bool toggle = w.app.IspIdToggle;

  w.input().Click(*f().chkDetectUSB);
  EXPECT_EQ(w.app.DetectEnabled, 0);
  EXPECT_EQ(f().pnlUSBExist->GetColor(), ui::clGray);
  EXPECT_FALSE(usb().GetDeviceFound());
  EXPECT_TRUE(f().lbledtVID->Enabled());
  EXPECT_TRUE(f().lbledtPID->Enabled());

  const std::string match = usb().GetMatchId();
  const std::size_t requests = w.bus().Log().Size();
  for (int i = 0; i < 5; ++i) Tick();
  EXPECT_EQ(usb().GetMatchId(), match);
  EXPECT_EQ(w.bus().Log().Size(), requests);
  EXPECT_EQ(f().lblDetectDevice->Caption(), "Find Device Brevanto RX1");  // texts are kept
  EXPECT_EQ(f().pnlUSBExist->GetColor(), ui::clGray);

  w.input().Click(*f().chkDetectUSB);
  EXPECT_EQ(w.app.DetectEnabled, 1);
  EXPECT_FALSE(f().lbledtVID->Enabled());
  Tick();  // the row was probed last, so the other update id is next
  EXPECT_EQ(usb().GetMatchId(), std::string(toggle ? kE7b2 : kE6a4));
  EXPECT_EQ(f().lblDetectDevice->Caption(), "No device is available");
  Tick();
  EXPECT_EQ(usb().GetMatchId(), RowMatch(1));
}

TEST_F(Polling, AfterTheUpdateHasFinishedTicksOnlyLetGoOfTheDevice) {
  dir.Write("Brevanto_RX1.hex", GoodHex());
  ASSERT_TRUE(TickUntilFound());
  ASSERT_TRUE(usb().Open());
  w.app.UpdateFinished = 1;
  Tick();
  EXPECT_FALSE(usb().IsOpen());
  EXPECT_EQ(w.bus().OpenHandleCount(), 0u);

  const std::string detect = f().lblDetectDevice->Caption();
  sim::SimDevice& device = w.bus().Device(0);
  w.bus().Unplug(device);
  for (int i = 0; i < 3; ++i) Tick();
  w.bus().Replug(device);
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_EQ(f().lblDetectDevice->Caption(), detect);
  EXPECT_TRUE(f().btnSimpleAuto->Enabled());
  EXPECT_EQ(f().pnlUSBExist->GetColor(), ui::clLime);
}

// A running update, or any operation that holds the connection (a manual ISP command, a grid
// read), pauses probing: no tick changes the driver mode, match text or device under it.
TEST_F(Polling, BusyMarkMakesATickLeaveTheConnectionAlone) {
  struct Case {
    bool detect;
    std::uint8_t AppState::*mark;
    bool stillOpen;
  };
  for (const Case c :
       {Case{true, &AppState::UpdateBusy, true}, Case{false, &AppState::UpdateBusy, false},
        Case{true, &AppState::DeviceActivityRunning, true},
        Case{false, &AppState::DeviceActivityRunning, true}}) {
    SCOPED_TRACE(testing::Message() << c.detect << (c.mark == &AppState::UpdateBusy));
    w.app.DetectEnabled = c.detect;
    usb().SetUseAudioDriver(1);
    usb().SetMatchId(RowMatch(0));
    usb().FindDevice();
    ASSERT_TRUE(usb().Open());
    // As a re-enumeration in the middle of a sequence would leave it: not found any more.
    if (c.detect) usb().ClearDeviceFound();
    w.app.*c.mark = 1;
    const std::size_t requests = w.bus().Log().Size();
    Tick();
    EXPECT_EQ(usb().IsOpen(), c.stillOpen);
    EXPECT_EQ(usb().GetUseAudioDriver(), 1);
    EXPECT_EQ(usb().GetMatchId(), RowMatch(0));
    EXPECT_EQ(w.bus().Log().Size(), requests);
    usb().Close();
    w.app.*c.mark = 0;
  }
}

TEST_F(UpdateIdE6a4, ATickInTheMiddleOfTheUpdateNeitherReloadsNorProbes) {
  const std::string first(8192, '\x3C');
  dir.Write("Brevanto_RX1.bin", first);
  ASSERT_TRUE(TickUntilFound());
  ASSERT_TRUE(f().btnSimpleAuto->Enabled());

  // Every message pause of the update lets the timer fire; the file changes on disk meanwhile.
  int ticks = 0;
  w.shell.onProcessMessages = [&] {
    if (ticks == 0) dir.Write("Brevanto_RX1.bin", std::string(16, '\x01'));
    ++ticks;
    Tick();
  };
  w.input().Click(*f().btnSimpleAuto);
  w.shell.onProcessMessages = nullptr;

  EXPECT_GT(ticks, 0);
  EXPECT_EQ(f().lblISPProcStatus->Caption(), "Firmware update success!");
  const auto flash = w.bus().Device(0).Chip().Flash().Contents();
  EXPECT_EQ(std::string(flash.begin(), flash.begin() + 8192), first);
  EXPECT_EQ(w.core.FlashImage.Length, 8192u);
  EXPECT_EQ(usb().GetMatchId(), std::string(kE6a4));
}

TEST(FirmwareVersion, ShownAsDecimalMajorAndMinor) {
  struct Case {
    const char* setup;
    const char* shown;
  };
  const Case cases[] = {
      {"version=0109", "Current Firmware:V1.9"},
      {"version=0A10", "Current Firmware:V10.16"},
      {"version=0000", "Current Firmware:V0.0"},
      {"model=none", "Current Firmware:unknown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    Window w(96, c.setup);
    for (int i = 0; i < 40 && !w.core.UsbDevice.GetDeviceFound(); ++i) {
      w.input().Tick(*w.form->Timer1);
    }
    w.form->GetFWVersion();
    EXPECT_EQ(w.form->lblFWVer->Caption(), c.shown);
    EXPECT_EQ(w.bus().OpenHandleCount(), 0u);
  }
}

TEST_F(Polling, IdEditsTakeEnterOnlyWhileDetectionIsOff) {
  // Detection on: the edits are locked.
  w.input().TypeText(*f().lbledtVID, "1234");
  EXPECT_EQ(f().lbledtVID->Text(), "e6a4");

  w.input().Click(*f().chkDetectUSB);
  w.input().TypeText(*f().lbledtVID, "E6A5");
  w.input().KeyDown(*f().lbledtVID, 'A');
  EXPECT_EQ(w.app.CustomVid, "e6a4");
  w.input().KeyDown(*f().lbledtVID, 0x0D);
  EXPECT_EQ(w.app.CustomVid, "E6A5");
  EXPECT_EQ(w.app.CustomMatchText, "vid_E6A5&pid_f800");  // as typed

  w.input().TypeText(*f().lbledtPID, "60AB");
  w.input().KeyDown(*f().lbledtPID, 0x0D);
  EXPECT_EQ(w.app.CustomPid, "60AB");
  EXPECT_EQ(w.app.CustomMatchText, "vid_E6A5&pid_60AB");

  // Switching detection on takes both texts, letters in lower case.
  w.input().Click(*f().chkDetectUSB);
  EXPECT_EQ(w.app.CustomMatchText, "vid_e6a5&pid_60ab");
  EXPECT_TRUE(w.shell.errors.empty());
}

}  // namespace
}  // namespace qv::test
