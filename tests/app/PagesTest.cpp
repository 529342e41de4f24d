// The engineering pages over the simulated device, as the service window shows them: what each
// handler sends, in which order and with which pauses, and what the page shows afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip/Registers.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/RegisterTrace.h"
#include "util/Text.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kEnter = 0x0D, kInsert = 0x2D, kDelete = 0x2E;

class Pages : public ::testing::Test {
 protected:
  explicit Pages(const std::string& setup = "") : w(96, setup, true) {}

  void FindDevice() {
    w.core.UsbDevice.SetUseAudioDriver(1);
    w.core.UsbDevice.SetMatchId("vid_e5d3&pid_7a01");
    w.core.UsbDevice.FindDevice();
    w.bus().ClearLog();
  }
  sim::SimDevice& device() { return w.bus().Device(0); }
  sim::SimChip& chip() { return device().Chip(); }
  const sim::RequestLog& log() { return w.bus().Log(); }
  TForm1& f() { return *w.form; }
  void Click(ui::Control* c) { w.input().Click(*c); }
  void Key(ui::Control* c, std::uint16_t key) { w.input().KeyDown(*c, key); }
  // A user's click on a bit box: the box toggles, then its mouse-up event runs.
  void ClickBox(ui::CheckBox* box) {
    w.input().Click(*box);
    w.input().MouseUp(*box);
  }
  std::string Trace() { return test::Trace(log()); }
  std::string Caption(ui::Control* c) { return c->Caption(); }
  std::uint8_t BitsShown(const std::string& prefix) {
    std::uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (w.Get<ui::CheckBox>(prefix + std::to_string(bit)).Checked()) value |= 1 << bit;
    return value;
  }

  Window w;
};

// ---- Register page

TEST_F(Pages, ReadBankFillsTheGridWithTheSelectedBankOneRequestPerRegister) {
  Click(f().btnReadAll);  // no device: nothing at all
  EXPECT_EQ(log().Size(), 0u);
  FindDevice();
  chip().Poke(5, 0x3C, 0xA7);
  chip().Poke(5, 0xFF, 0x12);
  w.core.UsbDevice.Open();
  SelectRegisterBank(w.core.UsbDevice, 5);
  w.core.UsbDevice.Close();
  w.bus().ClearLog();
  const std::size_t opens = w.bus().OpenCount();
  Click(f().btnReadAll);
  EXPECT_EQ(log().Size(), 256u);
  for (std::size_t i = 0; i < 256; ++i) EXPECT_EQ(log()[i].index, i);
  EXPECT_EQ(w.bus().OpenCount() - opens, 1u);  // one open for the whole bank
  EXPECT_EQ(f().RegStringGrid1->Cell(13, 4), "A7");
  EXPECT_EQ(f().RegStringGrid1->Cell(16, 16), "12");
  EXPECT_EQ(f().RegStringGrid1->Cell(1, 1), "05");  // register 0x00 reads the bank selected
  EXPECT_EQ(w.app.RegisterImage[0x3C], 0xA7);
  EXPECT_EQ(Caption(f().btnReadAll), "Read Bank");
  EXPECT_FALSE(w.core.UsbDevice.IsOpen());
}

TEST_F(Pages, StopEndsTheBankReadAndOtherDeviceHandlersWaitForIt) {
  FindDevice();
  int pumps = 0;
  w.shell.onProcessMessages = [&] {
    if (++pumps == 3) {
      EXPECT_EQ(Caption(f().btnReadAll), "Stop");
      Click(f().btnUpdateStatus);  // would close the connection under the loop
      Click(f().btnReadAll);       // Stop
    }
  };
  Click(f().btnReadAll);
  EXPECT_EQ(log().Size(), 3u);  // registers 0x00 to 0x02, nothing of the Update
  EXPECT_EQ(Caption(f().btnReadAll), "Read Bank");
  EXPECT_EQ(f().btnReadAll->Tag(), 0);
  EXPECT_EQ(f().RegStringGrid1->Cell(4, 1), "");
  EXPECT_EQ(w.app.DeviceActivityRunning, 0);
}

TEST_F(Pages, HandlersRefusedDuringAReadChangeNothing) {
  FindDevice();
  ui::StringGrid& grid = *f().RegStringGrid1;
  w.app.RegisterImage[0x12] = 0x41;
  grid.SetCurrentCell(3, 2);  // register 0x12
  w.input().TypeText(*f().edtMI2CAddr, "40");
  int pumps = 0;
  w.shell.onProcessMessages = [&] {
    if (++pumps != 3) return;
    EXPECT_FALSE(w.input().SelectCell(grid, 6, 3));
    Key(&grid, kInsert);
    ClickBox(f().chkBit5);
    Key(f().edtMI2CAddr, kEnter);
    ClickBox(f().chkMI2CBit2);
    w.input().SelectPage(*f().MainPageControl, *f().PageMI2CCtrl);  // prepares nothing now
  };
  Click(f().btnReadAll);
  EXPECT_EQ(grid.Col(), 3);
  EXPECT_EQ(grid.Row(), 2);
  EXPECT_EQ(Caption(f().lblRegAddr), "Reg 0x00");
  EXPECT_EQ(w.app.RegisterImage[0x12], chip().Peek(0, 0x12));
  EXPECT_FALSE(f().chkBit5->Checked());
  EXPECT_FALSE(f().chkMI2CBit2->Checked());
  EXPECT_EQ(w.app.SlaveAddress, 0x20);
  EXPECT_EQ(log().Size(), 256u);  // the read's, nothing else
  // The next I2C action prepares the master itself before its transfer.
  w.shell.onProcessMessages = nullptr;
  chip().I2c().Slave(0x20)->SetRegister(0x25, 0x81);
  w.bus().ClearLog();
  w.input().SelectCell(*f().StringGridMIIC, 6, 3);
  EXPECT_TRUE(Trace().starts_with("W00=0E W11=04 ")) << Trace();
  EXPECT_EQ(Caption(f().lblMI2CRegData), "= 0x81");
}

TEST_F(Pages, ValuesThatCouldNotBeReadAreShownAsNotRead) {
  FindDevice();
  Click(f().btnReadAll);
  ASSERT_EQ(f().RegStringGrid1->Cell(1, 1), "00");
  chip().Poke(0, 0xA6, 0x01);  // connected, playing
  Click(f().btnUpdateStatus);
  ASSERT_TRUE(f().lblConnect->Enabled());
  const std::vector<ui::Label*> statusLabels = {f().lblConnect,        f().lblMute,
                                                f().lblCurrentFormat0, f().lblCurrentFormat1,
                                                f().lblCurrentFreq0,   f().lblCurrentFreq1};
  // A status whose second or third register read fails (the bank select is request 1) is
  // unread as a whole: greyed, nothing of it kept.
  const PlaybackStatus shown = w.app.PlaybackStatus;
  for (std::uint64_t failing : {3u, 4u}) {
    for (std::uint8_t at : {0, 1, 2}) chip().Poke(0, 0xA4 + at, shown.registers[at]);
    Click(f().btnUpdateStatus);
    ASSERT_TRUE(f().lblCurrentFormat1->Enabled());
    chip().Poke(0, 0xA4, 0x09);
    chip().Poke(0, 0xA5, 0x5A);
    chip().Poke(0, 0xA6, 0x03);
    device().FailRequestNumber(device().RequestCount() + failing);
    w.bus().ClearLog();
    Click(f().btnUpdateStatus);
    EXPECT_EQ(Trace(), failing == 3 ? "W00=00 RA4 fail" : "W00=00 RA4 RA5 fail");
    for (ui::Label* label : statusLabels) EXPECT_FALSE(label->Enabled()) << label->Name();
    EXPECT_EQ(w.app.PlaybackStatus.registers, shown.registers) << failing;
    EXPECT_EQ(Caption(f().lblCurrentFormat1), "PCM");
  }
  w.bus().Unplug(device());
  Click(f().btnReadAll);
  EXPECT_EQ(f().RegStringGrid1->Cell(1, 1), "--");
  EXPECT_EQ(f().RegStringGrid1->Cell(16, 16), "--");
  ClickBox(f().chkBit3);
  EXPECT_EQ(f().RegStringGrid1->Cell(1, 1), "--");
  w.input().SelectCell(*f().RegStringGrid1, 6, 3);
  EXPECT_EQ(f().RegStringGrid1->Cell(6, 3), "--");
  EXPECT_EQ(Caption(f().lblRegData), "= -- (not read)");
  EXPECT_EQ(BitsShown("chkBit"), 0);
  // The Information page greys every text of a status it could not read.
  Click(f().btnUpdateStatus);
  for (ui::Label* label : statusLabels) EXPECT_FALSE(label->Enabled()) << label->Name();
}

TEST_F(Pages, APollingTickDuringTheReadLeavesItsConnectionAlone) {
  FindDevice();
  // After the one-click update a tick only lets go of the device.
  w.app.UpdateFinished = 1;
  w.shell.onProcessMessages = [&] { w.input().Tick(*f().Timer1); };
  Click(f().btnReadAll);
  std::size_t ok = 0;
  for (const auto& e : log().Entries()) ok += e.ok;
  EXPECT_EQ(ok, 256u);
  EXPECT_FALSE(w.core.UsbDevice.IsOpen());  // closed by the read itself at its end
}

TEST_F(Pages, SelectingACellHighlightsItsHeadersAndShowsTheRegisterRead) {
  FindDevice();
  chip().Poke(0, 0x25, 0x81);
  ui::StringGrid& grid = *f().RegStringGrid1;
  w.input().SelectCell(grid, 3, 4);
  w.input().SelectCell(grid, 6, 3);
  EXPECT_EQ(Trace(), "R32 R25");
  EXPECT_EQ(Caption(f().lblRegAddr), "Reg 0x25");
  EXPECT_EQ(Caption(f().lblRegData), "= 0x81");
  EXPECT_EQ(grid.Cell(6, 3), "81");
  EXPECT_EQ(BitsShown("chkBit"), 0x81);
  for (int i = 1; i <= 16; ++i) {
    EXPECT_EQ(grid.FixedCellColor(0, i), i == 3 ? ui::clSilver : ui::clBtnFace) << "row " << i;
    EXPECT_EQ(grid.FixedCellColor(i, 0), i == 6 ? ui::clSilver : ui::clBtnFace) << "col " << i;
  }
  // The texts stay the headers'.
  EXPECT_EQ(grid.Cell(0, 3), "20");
  EXPECT_EQ(grid.Cell(6, 0), "05");
}

TEST_F(Pages, KeysWriteAndShowWhatTheChipReadsBack) {
  FindDevice();
  ui::StringGrid& grid = *f().RegStringGrid1;
  struct Case {
    const char* name;
    int col, row;  // bank 0
    std::uint8_t stored;
    std::string typed;
    std::uint16_t key;
    std::string trace;  // empty: nothing sent
    std::string shown;
  };
  const Case cases[] = {
      {"Enter 1FF writes its low byte", 2, 2, 0, "1FF", kEnter, "W11=FF R11", "FF"},
      {"Enter 7", 2, 2, 0, "7", kEnter, "W11=07 R11", "07"},
      // A firmware-owned register keeps its value: the page shows the chip's, not the typed one.
      {"read-only version register", 15, 11, 0x01, "55", kEnter, "WAE=55 RAE", "01"},
      {"Insert steps the stored byte, not the typed text", 3, 2, 0x41, "99", kInsert, "W12=42 R12",
       "42"},
      {"Delete", 3, 2, 0x41, "", kDelete, "W12=40 R12", "40"},
      {"Insert at FF sends nothing", 4, 2, 0xFF, "", kInsert, "", ""},
      {"Delete at 00 sends nothing", 4, 2, 0x00, "", kDelete, "", ""},
      {"another key", 4, 2, 0x10, "", 'A', "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    grid.SetCurrentCell(c.col, c.row);
    const std::uint8_t address = static_cast<std::uint8_t>((c.row - 1) * 16 + c.col - 1);
    w.app.RegisterImage[address] = c.stored;
    w.input().EditCell(grid, c.col, c.row, c.typed);
    w.bus().ClearLog();
    const auto before = w.clock().Slept();
    Key(&grid, c.key);
    EXPECT_EQ(Trace(), c.trace);
    if (!c.trace.empty()) {
      EXPECT_EQ(grid.Cell(c.col, c.row), c.shown);
      EXPECT_EQ(w.clock().Slept() - before, 1ms);
      EXPECT_EQ(BitsShown("chkBit"), std::stoi(c.shown, nullptr, 16));
    }
  }
  // Text that is no hexadecimal number: the conversion error, nothing sent.
  for (const char* text : {"", "0x12", "zz"}) {
    w.input().EditCell(grid, 2, 2, text);
    w.bus().ClearLog();
    const std::size_t errors = w.shell.errors.size();
    Key(&grid, kEnter);
    EXPECT_EQ(w.shell.errors.size(), errors + 1) << text;
    EXPECT_EQ(log().Size(), 0u);
  }
  // A register not read has no byte to step from: Insert and Delete send nothing.
  grid.SetCurrentCell(4, 2);
  w.app.RegisterImage[0x13] = 0x41;
  w.app.RegisterUnread[0x13] = true;
  w.bus().ClearLog();
  Key(&grid, kInsert);
  Key(&grid, kDelete);
  EXPECT_EQ(log().Size(), 0u);
  // A write that fails and a read-back that comes: the cell shows the value read, as read.
  chip().Poke(0, 0x13, 0x5A);
  w.input().EditCell(grid, 4, 2, "66");
  device().FailRequestNumber(device().RequestCount() + 1);
  w.bus().ClearLog();
  Key(&grid, kEnter);
  EXPECT_EQ(Trace(), "fail R13");  // the write, refused
  EXPECT_EQ(grid.Cell(4, 2), "5A");
  EXPECT_FALSE(w.app.RegisterUnread[0x13]);
}

TEST_F(Pages, BitBoxesBeforeAnySelectionActOnRegisterZero) {
  FindDevice();
  // Register 0x00 is the bank select: bit 1 selects bank 2, and the chip reads back 02.
  const auto before = w.clock().Slept();
  ClickBox(f().chkBit1);
  EXPECT_EQ(Trace(), "W00=02 R00");
  EXPECT_EQ(w.clock().Slept() - before, 3ms);
  EXPECT_EQ(chip().SelectedBank(), 2);
  EXPECT_EQ(f().RegStringGrid1->Cell(1, 1), "02");
  EXPECT_EQ(Caption(f().lblRegAddr), "Reg 0x00");
  EXPECT_EQ(Caption(f().lblRegData), "= 0x02");
}

// ---- I2C Access page

class I2cPages : public Pages {
 protected:
  I2cPages() : Pages("i2c-slaves=20,a0") {}
  sim::RegisterSlave& slave(std::uint8_t address) { return *chip().I2c().Slave(address); }
};

TEST_F(I2cPages, EnteringThePagePreparesTheMasterAndReadFillsTheGrid) {
  FindDevice();
  w.input().SelectPage(*f().MainPageControl, *f().Parameter);
  EXPECT_EQ(log().Size(), 0u);
  w.input().SelectPage(*f().MainPageControl, *f().PageMI2CCtrl);
  EXPECT_EQ(Trace(), "W00=0E W11=04");
  for (int r = 0; r < 256; ++r) slave(0x20).SetRegister(r, static_cast<std::uint8_t>(r ^ 0x5A));
  Click(f().btnReadMI2C);
  EXPECT_EQ(f().StringGridMIIC->Cell(1, 1), "5A");
  EXPECT_EQ(f().StringGridMIIC->Cell(16, 16), "A5");
  EXPECT_EQ(Caption(f().btnReadMI2C), "Read");
  // An absent slave: no cell shows the other slave's values.
  w.input().TypeText(*f().edtMI2CAddr, "40");
  Key(f().edtMI2CAddr, kEnter);
  EXPECT_EQ(w.app.SlaveAddress, 0x40);
  Click(f().btnReadMI2C);
  EXPECT_EQ(f().StringGridMIIC->Cell(1, 1), "--");
  EXPECT_EQ(f().StringGridMIIC->Cell(16, 16), "--");
  // The address edit shows what is in force.
  w.input().TypeText(*f().edtMI2CAddr, "a");
  Key(f().edtMI2CAddr, kEnter);
  EXPECT_EQ(f().edtMI2CAddr->Text(), "0A");
}

TEST_F(I2cPages, KeysStartFromTheCellTextAndBitsWaitThirtyMilliseconds) {
  FindDevice();
  w.input().SelectPage(*f().MainPageControl, *f().PageMI2CCtrl);
  ui::StringGrid& grid = *f().StringGridMIIC;
  grid.SetCurrentCell(2, 1);  // register 0x01
  for (auto [text, key] : {std::pair{"FF", kInsert}, std::pair{"00", kDelete}}) {
    w.input().EditCell(grid, 2, 1, text);
    w.bus().ClearLog();
    Key(&grid, key);
    EXPECT_EQ(log().Size(), 0u) << text;
    EXPECT_EQ(w.app.I2cImage[0x01], text == std::string("FF") ? 0xFF : 0x00);
  }
  // Typed over without Enter: the typed value plus one is written.
  w.input().EditCell(grid, 2, 1, "3F");
  Key(&grid, kInsert);
  EXPECT_EQ(slave(0x20).Register(0x01), 0x40);
  EXPECT_EQ(grid.Cell(2, 1), "40");

  const auto before = w.clock().Slept();
  ClickBox(f().chkMI2CBit7);
  // The boxes showed 0x40; with bit 7 they make 0xC0.
  EXPECT_EQ(slave(0x20).Register(0x01), 0xC0);
  EXPECT_EQ(w.clock().Slept() - before, 30ms);
  EXPECT_EQ(Caption(f().lblMI2CRegData), "= 0xC0");
}

TEST_F(I2cPages, SpecialAccessSendsTheEditsBytesAndPreparesTheMasterItself) {
  FindDevice();
  // The page's edits: lengths enable as many edits; "10", "2" and an empty text.
  w.input().Scroll(*f().srblen0, 3);
  w.input().Scroll(*f().srblen1, 2);
  EXPECT_EQ(Caption(f().lbllencmd), "3");
  EXPECT_TRUE(f().edtI2Ccmd2->Enabled());
  EXPECT_FALSE(f().edtI2Ccmd3->Enabled());
  w.input().TypeText(*f().edtI2Ccmd0, "10");
  w.input().TypeText(*f().edtI2Ccmd1, "2");
  w.input().TypeText(*f().edtI2Ccmd2, "");
  w.input().TypeText(*f().edtI2Cdat0, "AB");
  w.input().TypeText(*f().edtI2Cdat1, "cd");
  // Another page selected bank 0 in between.
  Click(f().btnUpdateStatus);
  w.input().TypeText(*f().edtMI2CAddr1, "A0");
  Key(f().edtMI2CAddr1, kEnter);
  EXPECT_EQ(f().edtMI2CAddr->Text(), "A0");
  w.bus().ClearLog();
  Click(f().btnWriteSpecI2C);
  // On the bus: the command bytes 10 20 00, then the data AB CD. The part takes the first byte
  // for its register pointer and stores the rest from there.
  EXPECT_TRUE(Trace().starts_with("W00=0E W11=04 W10=C0 W14=01 W12=A0")) << Trace();
  EXPECT_EQ(slave(0xA0).Register(0x10), 0x20);
  EXPECT_EQ(slave(0xA0).Register(0x11), 0x00);
  EXPECT_EQ(slave(0xA0).Register(0x12), 0xAB);
  EXPECT_EQ(slave(0xA0).Register(0x13), 0xCD);

  // A read: command 12 (of an edit's first two characters), two bytes back; a read that fails
  // empties the edits.
  w.input().Scroll(*f().srblen0, 1);
  w.input().TypeText(*f().edtI2Ccmd0, "12ab");
  Click(f().btnReadSpecI2C);
  EXPECT_EQ(f().edtI2Cdat0->Text(), "AB");
  EXPECT_EQ(f().edtI2Cdat1->Text(), "CD");
  w.input().TypeText(*f().edtI2Cdat0, "77");
  w.input().TypeText(*f().edtMI2CAddr1, "40");  // nobody there
  Key(f().edtMI2CAddr1, kEnter);
  Click(f().btnReadSpecI2C);
  EXPECT_EQ(f().edtI2Cdat0->Text(), "");
  EXPECT_EQ(f().edtI2Cdat1->Text(), "");
}

// ---- Parameter page

TEST_F(Pages, StringsTravelInChunksWithFiftyMillisecondPauses) {
  FindDevice();
  struct Case {
    std::string text;
    std::vector<std::size_t> chunks;
    std::string stored;
  };
  const Case cases[] = {
      {"", {1}, ""},
      {"Quorvex", {8}, "Quorvex"},
      {"Quorvex-", {8, 1}, "Quorvex-"},
      {std::string(31, 'S'), {8, 8, 8, 8}, std::string(31, 'S')},
      {std::string(40, 'L'), {8, 8, 8, 8}, std::string(31, 'L')},  // cut to 31
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.size());
    w.input().TypeText(*f().lbledSysStr2, c.text);
    w.bus().ClearLog();
    const auto before = w.clock().Slept();
    Key(f().lbledSysStr2, kEnter);
    std::vector<std::size_t> chunks;
    std::size_t dataWrites = 0;
    for (const auto& e : log().Entries()) {
      if (!e.deviceToHost && e.index >= 0x93 && e.index <= 0x9A) ++dataWrites;
      if (!e.deviceToHost && e.index == 0x90 && !e.data.empty() && e.data[0] == 0x10) {
        chunks.push_back(dataWrites);
        dataWrites = 0;
      }
    }
    EXPECT_EQ(chunks, c.chunks);
    EXPECT_EQ(chip().Mailbox().String(1), c.stored);
    // Each exchange waits 10 ms for its answer, then the page pauses 50 ms.
    EXPECT_EQ(w.clock().Slept() - before, c.chunks.size() * 60ms);
  }
}

TEST_F(Pages, IdsAreSentAsFourCharactersAndTheSettingsRecordRoundTrips) {
  FindDevice();
  struct Case {
    const char* text;
    std::array<std::uint8_t, 4> stored;
  };
  const Case cases[] = {
      {"6012", {'6', '0', '1', '2'}},
      {"e6", {'e', '6', 0, 0}},
      {"e6a0ff", {'e', '6', 'a', '0'}},
  };
  for (const Case& c : cases) {
    w.input().TypeText(*f().lbledSysVID, c.text);
    Key(f().lbledSysVID, kEnter);
    EXPECT_EQ(chip().Mailbox().VendorIdText(), c.stored) << c.text;
  }
  w.input().TypeText(*f().lbledSysPID, "f800");
  Key(f().lbledSysPID, kEnter);
  EXPECT_EQ(chip().Mailbox().ProductIdText(), (std::array<std::uint8_t, 4>{'f', '8', '0', '0'}));

  // Set right after start sends the start record; 1024 Fs makes A1 into B1.
  Click(f().btnSetPara);
  EXPECT_EQ(chip().Mailbox().Settings(), (std::array<std::uint8_t, 4>{0xA1, 0, 0, 0x80}));
  Click(f().rbnMCLKOutFreq3);
  EXPECT_EQ(w.app.ParameterSettings[0], 0xB1);
  Click(f().chkSPDIFOutOff);
  Click(f().chkI2SLRSwap);
  EXPECT_EQ(w.app.ParameterSettings, (std::array<std::uint8_t, 4>{0xB5, 0x20, 0, 0}));
}

class ParameterReadBack : public Pages {
 protected:
  ParameterReadBack() : Pages("settings=00000000;eeprom=1") {}
};

TEST_F(ParameterReadBack, ZeroesWithTheEepromBitShowEveryOptionOff) {
  FindDevice();
  EXPECT_EQ(Caption(f().lblEepAvail), "EEPROM not Available");
  Click(f().btnReadPara);
  EXPECT_EQ(w.app.ParameterSettings, (std::array<std::uint8_t, 4>{0, 0, 0, 0x80}));
  EXPECT_TRUE(f().rbnI2Slen1->Checked());  // 24 bit
  EXPECT_TRUE(f().rbnSPDIFlen1->Checked());
  EXPECT_TRUE(f().rbnMCLKOutFreq0->Checked());
  EXPECT_TRUE(f().rbnI2SFormat0->Checked());
  EXPECT_TRUE(f().rbnDSDOut1->Checked());  // DoP
  for (ui::CheckBox* box : {f().chkI2SLRSwap, f().chkDSDLRSwap, f().chkMCLKOutOff, f().chkI2SOutOff,
                            f().chkSPDIFOutOff})
    EXPECT_FALSE(box->Checked()) << box->Name();
  EXPECT_EQ(Caption(f().lblEepAvail), "EEPROM Exist");
  // A read back the firmware does not answer keeps the record as it was and shows nothing as
  // read: not the EEPROM an earlier read found.
  chip().Mailbox().SetNeverCompletes(true);
  w.app.ParameterSettings = {0xA1, 0, 0, 0};
  Click(f().btnReadPara);
  EXPECT_EQ(w.app.ParameterSettings, (std::array<std::uint8_t, 4>{0xA1, 0, 0, 0}));
  EXPECT_EQ(Caption(f().lblEepAvail), "--");
}

// ---- Information page

TEST_F(Pages, UpdateShowsEachStatusCombination) {
  FindDevice();
  struct Case {
    std::uint8_t rate, flags;
    const char* connect;
    const char* mute;  // nullptr: the label is greyed and keeps its text
    const char* format;
    const char* frequency;  // nullptr: greyed
  };
  const Case cases[] = {
      {0x04, 0x01, "USB connected", "Playing", "PCM", "176.4KHz"},
      {0x09, 0x03, "USB connected", "Playing", "DSD", " DSD 128"},
      {0x01, 0x03, "USB connected", "Playing", "DSD", " DoP 128"},
      {0x0C, 0x01, "USB connected", "Playing", "PCM", "        "},  // no text for PCM code 12
      {0x01, 0x05, "USB connected", "Mute", nullptr, nullptr},
      {0x01, 0x00, "USB Disconnected", nullptr, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "A4=" << int(c.rate) << " A6=" << int(c.flags));
    chip().Poke(0, 0xA4, c.rate);
    chip().Poke(0, 0xA6, c.flags);
    const std::string formatBefore = Caption(f().lblCurrentFormat1);
    w.bus().ClearLog();
    Click(f().btnUpdateStatus);
    EXPECT_EQ(Trace(), "W00=00 RA4 RA5 RA6");
    EXPECT_EQ(Caption(f().lblConnect), c.connect);
    EXPECT_EQ(f().lblMute->Enabled(), c.mute != nullptr);
    if (c.mute) {
      EXPECT_EQ(Caption(f().lblMute), c.mute);
    }
    for (ui::Label* label :
         {f().lblCurrentFormat0, f().lblCurrentFormat1, f().lblCurrentFreq0, f().lblCurrentFreq1})
      EXPECT_EQ(label->Enabled(), c.format != nullptr) << label->Name();
    EXPECT_EQ(Caption(f().lblCurrentFormat1), c.format ? c.format : formatBefore);
    if (c.frequency) {
      EXPECT_EQ(Caption(f().lblCurrentFreq1), c.frequency);
    }
  }
  // Without a device the last status stands.
  w.bus().Unplug(device());
  Click(f().btnUpdateStatus);
  EXPECT_EQ(Caption(f().lblConnect), "USB Disconnected");
  EXPECT_EQ(w.app.PlaybackStatus.registers[2], 0x00);
}

TEST_F(Pages, MediaKeysWaitForTheirCompletion) {
  FindDevice();
  const std::pair<ui::Button*, std::uint8_t> keys[] = {{f().btnHID0, 0x40},
                                                       {f().btnHID1, 0x02},
                                                       {f().btnHID2, 0x10},
                                                       {f().btnHID3, 0x01},
                                                       {f().btnHID4, 0x20}};
  for (auto [button, code] : keys) {
    w.bus().ClearLog();
    const auto before = w.clock().Slept();
    Click(button);
    // Answered at the first poll: one status read after 10 ms.
    EXPECT_EQ(Trace(), "W00=00 W91=" + FormatHex(code, 2) + " W90=30 R90");
    EXPECT_EQ(w.clock().Slept() - before, 10ms);
  }
  EXPECT_EQ(chip().Mailbox().Keys(), (Bytes{0x40, 0x02, 0x10, 0x01, 0x20}));
  chip().Mailbox().SetNeverCompletes(true);
  w.bus().ClearLog();
  Click(f().btnHID2);
  EXPECT_EQ(log().Size(), 3u + 10u);      // ten polls, then it is given up
  EXPECT_EQ(chip().Peek(0, 0x90), 0x30);  // not cleared
}

}  // namespace
}  // namespace qv::test
