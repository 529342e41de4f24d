#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/BuiltInImage.h"
#include "app/DeviceModels.h"
#include "tests/app/WindowFixture.h"

namespace qv::test {
namespace {

TEST(RangeSelection, AssignRangeReadsKilobytesAndAllRestores) {
  struct Case {
    const char* start;
    const char* size;
    std::uint32_t rangeStart;
    std::uint32_t rangeSize;
  };
  const Case cases[] = {
      {"64", "64", 0x10000, 0x10000}, {"0", "32", 0, 0x8000},       {"  8", "$10", 0x2000, 0x4000},
      {"0x20", "+1", 0x8000, 0x400},  {"255", "1", 0x3FC00, 0x400},
  };
  Window w;
  TForm1& f = *w.form;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    w.input().Click(*f.rbnRange0);
    EXPECT_EQ(w.core.RangeStart, 0u);
    EXPECT_EQ(w.core.RangeSize, 0x8000u);
    w.input().Click(*f.rbnRange1);
    // Typing is possible only once the range is assigned.
    w.input().TypeText(*f.lbledISPStart, c.start);
    w.input().TypeText(*f.lbledISPRange, c.size);
    EXPECT_EQ(f.lbledISPStart->Text(), c.start);
    w.input().Click(*f.rbnRange0);
    w.input().Click(*f.rbnRange1);
    EXPECT_TRUE(f.rbnRange1->Checked());
    EXPECT_FALSE(f.rbnRange0->Checked());
    EXPECT_EQ(w.core.RangeStart, c.rangeStart);
    EXPECT_EQ(w.core.RangeSize, c.rangeSize);
    EXPECT_TRUE(f.lbledISPStart->Enabled());
    EXPECT_TRUE(f.Label21->Enabled());
  }
  EXPECT_TRUE(w.shell.errors.empty());
}

TEST(RangeSelection, EditsTakeNoTypingWhileAllIsSelected) {
  Window w;
  w.input().TypeText(*w.form->lbledISPStart, "1");
  EXPECT_EQ(w.form->lbledISPStart->Text(), "64");
}

TEST(RangeSelection, BadTextReachesTheErrorBoxAndTheWindowGoesOn) {
  Window w;
  TForm1& f = *w.form;
  w.input().Click(*f.rbnRange1);
  w.input().TypeText(*f.lbledISPStart, "1x");
  w.input().Click(*f.rbnRange0);

  // A bad start leaves both as they were.
  w.core.RangeStart = 0x1234;
  w.core.RangeSize = 0x5678;
  w.input().Click(*f.rbnRange1);
  ASSERT_EQ(w.shell.errors.size(), 1u);
  EXPECT_EQ(w.shell.errors[0], "'1x' is not a valid integer value");
  EXPECT_EQ(w.core.RangeStart, 0x1234u);
  EXPECT_EQ(w.core.RangeSize, 0x5678u);
  EXPECT_TRUE(f.lbledISPStart->Enabled());  // enabled before the conversion failed

  // A bad size: the new start is in place, the size is the old one.
  w.input().TypeText(*f.lbledISPStart, "2");
  w.input().TypeText(*f.lbledISPRange, "");
  w.input().Click(*f.rbnRange0);
  w.core.RangeSize = 0x5678;
  w.input().Click(*f.rbnRange1);
  ASSERT_EQ(w.shell.errors.size(), 2u);
  EXPECT_EQ(w.shell.errors[1], "'' is not a valid integer value");
  EXPECT_EQ(w.core.RangeStart, 0x800u);
  EXPECT_EQ(w.core.RangeSize, 0x5678u);

  // Still alive: the next good click works.
  w.input().TypeText(*f.lbledISPRange, "4");
  w.input().Click(*f.rbnRange0);
  w.input().Click(*f.rbnRange1);
  EXPECT_EQ(w.core.RangeSize, 0x1000u);
  EXPECT_EQ(w.shell.errors.size(), 2u);
  EXPECT_TRUE(w.shell.boxes.empty());
}

TEST(RangeSelection, ValuesOutsideTheFlashAreRefusedNotWrapped) {
  struct Case {
    const char* start;
    const char* size;
    const char* error;  // empty: accepted
  };
  const Case cases[] = {
      {"-1", "64", "Range Error: Start Addr -1 KB is outside 0 to 16384 KB"},
      {"4194303", "64", "Range Error: Start Addr 4194303 KB is outside 0 to 16384 KB"},
      // 4194305 KB is 0x100000400 bytes: cut to 32 bits it would look like 1 KB.
      {"4194305", "1", "Range Error: Start Addr 4194305 KB is outside 0 to 16384 KB"},
      {"0", "-4", "Range Error: Size -4 KB is outside 0 to 16384 KB"},
      {"16380", "8", "Range Error: 16380 KB + 8 KB is past the flash's 16384 KB"},
      {"16320", "64", ""},  // up to the last address exactly
      {"16384", "0", ""},
      {"16383", "1", ""},  // the last kilobyte
      {"16384", "1", "Range Error: 16384 KB + 1 KB is past the flash's 16384 KB"},
      {"16385", "0", "Range Error: Start Addr 16385 KB is outside 0 to 16384 KB"},
  };
  Window w;
  TForm1& f = *w.form;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + " KB + " + c.size + " KB");
    w.input().Click(*f.rbnRange0);
    EXPECT_EQ(w.app.RangeError, "");
    w.input().Click(*f.rbnRange1);
    w.input().TypeText(*f.lbledISPStart, c.start);
    w.input().TypeText(*f.lbledISPRange, c.size);
    w.input().Click(*f.rbnRange0);
    w.input().Click(*f.rbnRange1);
    EXPECT_EQ(w.app.RangeError, c.error);
    if (w.app.RangeError.empty()) {
      EXPECT_EQ(w.core.RangeStart, std::stoul(c.start) * 1024);
      EXPECT_EQ(w.core.RangeSize, std::stoul(c.size) * 1024);
      EXPECT_LE(std::uint64_t{w.core.RangeStart} + w.core.RangeSize, 0x1000000u);
    }
  }
  EXPECT_TRUE(w.shell.errors.empty());
}

TEST(FormClose, ClosesTheHandleOnlyWhenADeviceWasFound) {
  Window w;
  QuorvexUsb& usb = w.core.UsbDevice;
  usb.SetUseAudioDriver(1);
  ASSERT_TRUE(usb.SetMatchId("vid_e5d3&pid_7a01"));
  ASSERT_TRUE(usb.FindDevice());
  ASSERT_TRUE(usb.Open());
  ASSERT_EQ(w.bus().OpenHandleCount(), 1u);

  // Not marked found: nothing is touched, whatever is open.
  usb.ClearDeviceFound();
  const std::size_t requests = w.bus().Log().Size();
  EXPECT_EQ(w.form->Close(), CloseAction::Free);
  EXPECT_EQ(w.bus().OpenHandleCount(), 1u);
  EXPECT_TRUE(usb.IsOpen());
  EXPECT_EQ(w.bus().Log().Size(), requests);

  // Found: exactly that handle is closed.
  ASSERT_TRUE(usb.FindDevice());
  EXPECT_EQ(w.form->Close(CloseAction::Hide), CloseAction::Hide);
  EXPECT_EQ(w.bus().OpenHandleCount(), 0u);
  EXPECT_FALSE(usb.IsOpen());
  EXPECT_TRUE(w.shell.errors.empty());
}

TEST(FormClose, WithNothingFoundMakesNoDeviceCall) {
  Window w(96, "model=none");
  const std::size_t requests = w.bus().Log().Size();
  w.form->Close();
  EXPECT_EQ(w.bus().Log().Size(), requests);
  EXPECT_EQ(w.bus().OpenHandleCount(), 0u);
}

TEST(DeviceModelTable, SixteenRowsInProbingOrder) {
  struct Row {
    const char* match;
    const char* display;
    const char* stem;
  };
  const Row rows[] = {
      {"vid_e5d3&pid_7a01", "Brevanto RX1", "Brevanto_RX1"},
      {"vid_e5d3&pid_7a02", "Brevanto RX2", "Brevanto_RX2"},
      {"vid_e5d3&pid_7a03", "Brevanto T5", "Brevanto_T5"},
      {"vid_e5d3&pid_7a04", "Brevanto MB5", "Brevanto_MB5"},
      {"vid_e5d3&pid_7a05", "Brevanto MC5", "Brevanto_MC5"},
      {"vid_e5d3&pid_7a06", "Brevanto RX1 Pro", "Brevanto_RX1Pro"},
      {"vid_e5d3&pid_7a07", "Brevanto RX5    ", "Brevanto_RX5"},
      {"vid_e5d3&pid_7a08", "Brevanto RX3    ", "Brevanto_RX3"},
      {"vid_e5d3&pid_7a09", "Brevanto MB5 PLUS", "Brevanto_MB5P"},
      {"vid_e5d3&pid_7a0a", "Brevanto RX2 PLUS", "Brevanto_RX2P"},
      {"vid_e5d3&pid_7a0b", "Brevanto RX1 PLUS", "Brevanto_RX1P"},
      {"vid_e5d3&pid_7a0c", "Brevanto RX4", "Brevanto_RX4"},
      {"vid_e5d3&pid_7a0d", "Brevanto RX6", "Brevanto_RX6"},
      {"vid_e5d3&pid_7a0e", "Brevanto MD1", "Brevanto_MD1"},
      {"vid_e5d3&pid_7a0f", "Brevanto RX2s", "Brevanto_RX2s"},
      {"vid_e5d3&pid_7a10", "Brevanto RX3s", "Brevanto_RX3s"},
  };
  const auto& table = DeviceModelTable();
  ASSERT_EQ(table.size(), std::size(rows));
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(FieldText(table[i].MatchText), rows[i].match);
    EXPECT_EQ(FieldText(table[i].DisplayName), rows[i].display);
    EXPECT_EQ(FieldText(table[i].FileStem), rows[i].stem);
    // NUL-padded to the end of each field.
    for (const ModelField* field :
         {&table[i].MatchText, &table[i].DisplayName, &table[i].FileStem}) {
      const std::size_t length = FieldText(*field).size();
      EXPECT_TRUE(std::all_of(field->begin() + static_cast<std::ptrdiff_t>(length), field->end(),
                              [](char c) { return c == '\0'; }));
    }
  }
}

TEST(ProcessState, StartValuesBeforeAndAfterTheWindow) {
  AppState fresh;
  EXPECT_EQ(fresh.WindowTitle, "Brevanto firmware update Tool V1.9");
  EXPECT_EQ(fresh.ModelIndex, 0);
  EXPECT_EQ(fresh.CustomVid, "");
  EXPECT_EQ(fresh.CustomMatchText, "");
  EXPECT_EQ(fresh.EditFilePath, "");
  EXPECT_EQ(fresh.NewFilePath, "");
  EXPECT_EQ(fresh.DetectEnabled | fresh.UpdateBusy | fresh.UpdateFinished | fresh.IspIdToggle, 0);

  Window w;
  EXPECT_EQ(w.app.CustomVid, "e6a4");
  EXPECT_EQ(w.app.CustomPid, "f800");
  EXPECT_EQ(w.app.UpdateBusy, 0);
  EXPECT_EQ(w.app.ModelIndex, 0);
  EXPECT_EQ(w.core.UpdateFilePath, "");
  EXPECT_EQ(std::string(w.core.UsbDevice.GetMatchId()), "vid_e7b2&pid_6000");
  EXPECT_FALSE(w.core.UsbDevice.GetDeviceFound());
}

TEST(ProcessState, InformationTexts) {
  const InformationTexts texts;
  EXPECT_EQ(texts.UsbConnected, "USB connected");
  EXPECT_EQ(texts.UsbDisconnected, "USB Disconnected");
  EXPECT_EQ(texts.Playing, "Playing");
  EXPECT_EQ(texts.Mute, "Mute");
  EXPECT_EQ(texts.Pcm, "PCM");
  EXPECT_EQ(texts.Dsd, "DSD");
  const char* const rates[32] = {
      " 44.1KHz", "   48KHz", " 88.2KHz", "   96KHz", "176.4KHz", "  192KHz", "352.8KHz",
      "  384KHz", "705.6KHz", "  768KHz", "        ", "        ", "        ", "        ",
      "        ", "        ", " DoP  64", " DoP 128", " DoP 256", " DoP 512", "        ",
      "        ", "        ", "        ", " DSD  64", " DSD 128", " DSD 256", " DSD 512",
      "        ", "        ", "        ", "        "};
  for (std::size_t i = 0; i < 32; ++i) {
    EXPECT_EQ(texts.RateTexts[i], rates[i]) << i;
    EXPECT_EQ(texts.RateTexts[i].size(), kRateTextWidth) << i;
  }
}

}  // namespace
}  // namespace qv::test
