// The "Gen. Bin File" page over the scripted shell's file dialogs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/BuiltInImage.h"
#include "image/HexLoader.h"
#include "image/UserParameterMarker.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/TempFiles.h"

namespace qv::test {
namespace {

constexpr std::size_t kImage = 0x40000;

class BinEditor : public ::testing::Test {
 protected:
  BinEditor() : w(96, "", true) {}

  TForm1& f() { return *w.form; }
  // A binary image of `size` bytes of filler (never a marker), with `text` at `at`.
  std::string Image(std::size_t size, std::size_t at, const std::string& text) {
    std::string bytes(size, '\x11');
    bytes.replace(at, text.size(), text);
    return bytes;
  }
  // "Current File" with the open dialog answered by `path` (nothing: cancelled).
  void Open(const std::optional<std::string>& path) {
    w.shell.dialogAnswers.push_back(path);
    w.input().Click(*f().CurrentFileBitBtn);
  }
  std::string File(const std::string& name, const std::string& bytes) {
    return dir.Write(name, bytes).string();
  }
  std::string Status() { return f().lblStatusReport->Caption(); }

  TempDir dir;
  Window w;
};

TEST_F(BinEditor, TheMarkerDecidesWhetherAFileCanBeEdited) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* status;
    std::uint32_t offset;
  };
  const Case cases[] = {
      {"the whole marker", Image(4096, 500, "QVUSB_Table01"), "Load file ready", 500},
      {"ten characters are enough", Image(4096, 700, "QVUSB_TablX"), "Load file ready", 700},
      {"nine are not", Image(4096, 700, "QVUSB_TabX"), "Load file is invalid for modify", 0},
      {"the lower of two", Image(4096, 3000, "QVUSB_Table01").replace(90, 13, "QVUSB_Table01"),
       "Load file ready", 90},
      {"at offset 0", Image(4096, 0, "QVUSB_Table01"), "Load file ready", 0},
      {"in a lower-case spelling", Image(4096, 10, "qvusb_table01"),
       "Load file is invalid for modify", 0},
      // A full buffer: the last ten bytes may hold it, nine at the very end may not.
      {"in the last ten bytes", Image(kImage, kImage - 10, "QVUSB_Tabl"), "Load file ready",
       kImage - 10},
      {"cut off by the end", Image(kImage, kImage - 9, "QVUSB_Tab"),
       "Load file is invalid for modify", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open(File("fw.bin", c.bytes));
    EXPECT_EQ(Status(), c.status);
    EXPECT_EQ(w.app.MarkerOffset, c.offset);
    EXPECT_EQ(w.app.EditLength, c.bytes.size());
    EXPECT_EQ(f().lblCurrentFilePath->Caption(), (dir.Path() / "fw.bin").string());
  }
}

TEST_F(BinEditor, ControlsOpenStepByStepAndNeverCloseAgain) {
  EXPECT_TRUE(f().CurrentFileBitBtn->Enabled());
  for (ui::Control* c : std::initializer_list<ui::Control*>{f().btnCheck, f().GroupBox9,
                                                            f().btnSaveBitBin, f().btnSaveBin})
    EXPECT_FALSE(c->Enabled()) << c->Name();

  Open(std::nullopt);  // cancelled: nothing
  EXPECT_FALSE(f().btnCheck->Enabled());
  EXPECT_EQ(f().lblCurrentFilePath->Caption(), "...");

  Open(File("plain.bin", std::string(100, '\x22')));
  EXPECT_TRUE(f().btnCheck->Enabled());
  EXPECT_FALSE(f().GroupBox9->Enabled());
  EXPECT_FALSE(f().labedtNewVID->EnabledForInput());  // inside the closed group

  Open(File("marked.bin", Image(300, 40, "QVUSB_Table01")));
  EXPECT_TRUE(f().GroupBox9->Enabled());
  EXPECT_TRUE(f().btnSaveBitBin->Enabled());
  EXPECT_TRUE(f().labedtNewVID->EnabledForInput());

  // A file without the marker afterwards changes the text only.
  Open(File("plain.bin", std::string(100, '\x22')));
  EXPECT_EQ(Status(), "Load file is invalid for modify");
  EXPECT_TRUE(f().GroupBox9->Enabled());
  EXPECT_TRUE(f().btnSaveBitBin->Enabled());

  // "New File": cancelled changes nothing; chosen, its full path is shown and " Save" opens.
  w.shell.dialogAnswers = {std::nullopt};
  w.input().Click(*f().btnSaveBitBin);
  EXPECT_FALSE(f().btnSaveBin->Enabled());
  const std::string target = (dir.Path() / "new.bin").string();
  w.shell.dialogAnswers = {target};
  w.input().Click(*f().btnSaveBitBin);
  EXPECT_EQ(w.app.NewFilePath, target);
  EXPECT_EQ(f().lblSaveBinPath->Caption(), target);
  EXPECT_TRUE(f().btnSaveBin->Enabled());
  ASSERT_EQ(w.shell.dialogs.size(), 6u);
  EXPECT_EQ(w.shell.dialogs[0].request.filter, "Hex File|*.hex;*.h00|Binary File|*.bin");
  EXPECT_EQ(w.shell.dialogs[5].request.filter, "Binary File|*.bin");

  // " Save" writes no file.
  w.input().Click(*f().btnSaveBin);
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(BinEditor, CheckSearchesTheBufferAsItStands) {
  Open(File("plain.bin", std::string(64, '\x22')));
  f().lblSaveDone->SetCaption("saved");
  std::copy_n("QVUSB_Table01", 13, w.app.EditBuffer.begin() + 30);
  w.input().Click(*f().btnCheck);
  EXPECT_EQ(f().lblSaveDone->Caption(), "");
  EXPECT_EQ(w.app.MarkerOffset, 30u);
  EXPECT_TRUE(f().GroupBox9->Enabled());
  EXPECT_FALSE(f().btnSaveBitBin->Enabled());              // only "Current File" opens it
  EXPECT_EQ(Status(), "Load file is invalid for modify");  // no text of its own
}

TEST_F(BinEditor, OtherNamesLoadNothingAndUnreadableFilesHoldNoMarker) {
  Open(File("marked.hex.bin", Image(512, 100, "QVUSB_Table01")));
  ASSERT_EQ(Status(), "Load file ready");
  // A .txt file loads nothing, and is not reported ready over the buffer the last file left.
  Open(File("notes.txt", "QVUSB_Table01 is not here"));
  EXPECT_EQ(Status(), "Load file is invalid for modify");
  EXPECT_EQ(w.app.EditLength, 512u);
  // A file that cannot be opened leaves the buffer empty.
  Open((dir.Path() / "missing.bin").string());
  EXPECT_EQ(Status(), "Load file is invalid for modify");
  EXPECT_EQ(w.app.EditLength, 0u);
  // HEX files come through the HEX loader.
  const std::string marker(kUserParameterMarker);
  Open(File("fw.h00", HexRecord(0x00, 0x10,
                                std::span(reinterpret_cast<const std::uint8_t*>(marker.data()),
                                          marker.size())) +
                          "\r\n:00000001FF\r\n"));
  EXPECT_EQ(Status(), "Load file ready");
  EXPECT_EQ(w.app.MarkerOffset, 0x10u);
}

TEST_F(BinEditor, ItsLoadsNeverReplaceTheFileTheUpdatePanelAnnounced) {
  // The model's file, found as polling finds it.
  const std::string model = Image(6000, 0, "model firmware");
  dir.Write("Brevanto_RX1.bin", model);
  w.shell.currentDirectory = dir.Path();
  w.core.UsbDevice.SetUseAudioDriver(1);
  w.core.UsbDevice.SetMatchId("vid_e5d3&pid_7a01");
  w.core.UsbDevice.FindDevice();
  f().ReadProgramFile1();
  const std::string ready = f().lblUpdaeFileStatus->Caption();
  ASSERT_EQ(ready, "Firmware Update file   Brevanto_RX1.bin    is Ready!");

  // Another file, then one that cannot be opened: the editor's buffer takes them, the update
  // image stays the model's.
  Open(File("other.bin", Image(3000, 10, "QVUSB_Table01")));
  EXPECT_EQ(Status(), "Load file ready");
  Open((dir.Path() / "missing.bin").string());
  EXPECT_EQ(w.app.EditLength, 0u);
  EXPECT_EQ(w.core.FlashImage.Length, model.size());
  EXPECT_EQ(f().lblUpdaeFileStatus->Caption(), ready);
  w.input().Click(*f().btnSimpleAuto);
  EXPECT_EQ(f().lblISPProcStatus->Caption(), "Firmware update success!");
  const auto flash = w.bus().Device(0).Chip().Flash().Contents();
  EXPECT_TRUE(std::equal(model.begin(), model.end(), flash.begin(),
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
}

TEST_F(BinEditor, SaveNeverAltersALoadedFirmwareImage) {
  const auto& block = BuiltInImage();
  // At start-up (nothing loaded) the block stands in both buffers.
  EXPECT_TRUE(std::equal(block.begin(), block.end(), w.core.FlashImage.Data.begin()));

  // A firmware file loaded, as polling or "File" load it; then both " Save" buttons.
  const std::string firmware = Image(40000, 0, "firmware");
  w.core.FlashImage.Data.fill(0xFF);
  std::copy(firmware.begin(), firmware.end(), w.core.FlashImage.Data.begin());
  w.core.FlashImage.Length = static_cast<std::uint32_t>(firmware.size());
  std::fill(w.app.EditBuffer.begin(), w.app.EditBuffer.end(), 0x5A);
  w.app.EditLength = 200;
  w.app.MarkerOffset = 7;
  w.input().Click(*f().Button1);
  f().btnSaveBin->SetEnabled(true);
  w.input().Click(*f().btnSaveBin);
  EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), w.core.FlashImage.Data.begin(),
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
  EXPECT_EQ(w.core.FlashImage.Length, firmware.size());
  // The editor's own buffer takes the block, as it always did; lengths and marker stay.
  EXPECT_TRUE(std::equal(block.begin(), block.end(), w.app.EditBuffer.begin()));
  EXPECT_EQ(w.app.EditBuffer[kBuiltInImageSize], 0x5A);
  EXPECT_EQ(w.app.EditLength, 200u);
  EXPECT_EQ(w.app.MarkerOffset, 7u);
  EXPECT_TRUE(w.shell.dialogs.empty());

  // What Start then writes, and verifies, is the file.
  w.core.UsbDevice.SetUseAudioDriver(1);
  w.core.UsbDevice.SetMatchId("vid_e5d3&pid_7a01");
  w.core.UsbDevice.FindDevice();
  f().btnSimpleAuto->SetEnabled(true);
  w.input().Click(*f().btnSimpleAuto);
  EXPECT_EQ(f().lblISPProcStatus->Caption(), "Firmware update success!");
  const auto flash = w.bus().Device(0).Chip().Flash().Contents();
  EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), flash.begin(),
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));

  // Once nothing is loaded any more, the block is copied in again, where nothing can program
  // it.
  EraseImage(w.core.FlashImage);
  w.input().Click(*f().Button1);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), w.core.FlashImage.Data.begin()));
  EXPECT_EQ(w.core.FlashImage.Length, 0u);
}

}  // namespace
}  // namespace qv::test
