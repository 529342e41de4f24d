#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "image/HexLoader.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TestFirmware.h"

namespace qv::test {
namespace {

// One data record per 16 bytes from `address`, then the end record.
std::string Hex(std::uint16_t address, const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    const std::size_t n = std::min<std::size_t>(16, bytes.size() - at);
    text +=
        HexRecord(0x00, static_cast<std::uint16_t>(address + at), std::span(bytes).subspan(at, n)) +
        "\r\n";
  }
  return text + ":00000001FF\r\n";
}

const std::string kGoodHex = Hex(0, std::vector<std::uint8_t>(48, 0x21));  // 48 bytes
const std::string kGoodBin = std::string(20, '\x05');                      // 20 bytes

// A second record whose checksum byte is off by one.
std::string BadChecksumHex() {
  std::string text = kGoodHex;
  const std::size_t secondLineEnd = text.find("\r\n", text.find("\r\n") + 2);
  char& last = text[secondLineEnd - 1];
  last = last == '0' ? '1' : '0';
  return text;
}

class FirmwareFile : public ::testing::Test {
 protected:
  FirmwareFile() { w.shell.currentDirectory = dir.Path(); }

  TForm1& f() { return *w.form; }
  // What an earlier successful load leaves: a full image, both flags, lamp and Start.
  void LeaveEarlierLoad() {
    w.core.FlashImage.Data.fill(0x5A);
    w.core.FlashImage.Length = 0x1234;
    w.core.ProgramFileReady = 1;
    w.core.UpdateFileLoaded = 1;
    f().pnlUSBExist->SetColor(ui::clLime);
    f().btnSimpleAuto->SetEnabled(true);
  }

  TempDir dir;
  Window w;
};

TEST_F(FirmwareFile, TheModelsFileIsFoundLoadedOrRefused) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> files;
    const char* status;    // lblUpdaeFileStatus afterwards
    std::uint32_t length;  // of the image; 0x1234: the earlier image is untouched
    bool ready;            // Start enabled, lamp lime, both flags set
  };
  const std::string tooLarge(kFlashImageSize + 1, '\0');
  const Case cases[] = {
      {"hex",
       {{"Brevanto_RX2.hex", kGoodHex}},
       "Firmware Update file   Brevanto_RX2.hex    is Ready!",
       48,
       true},
      {"bin",
       {{"Brevanto_RX2.bin", kGoodBin}},
       "Firmware Update file   Brevanto_RX2.bin    is Ready!",
       20,
       true},
      {"hex before bin",
       {{"Brevanto_RX2.hex", kGoodHex}, {"Brevanto_RX2.bin", kGoodBin}},
       "Firmware Update file   Brevanto_RX2.hex    is Ready!",
       48,
       true},
      {"other model's file only",
       {{"Brevanto_RX1.hex", kGoodHex}},
       "No Updated File !",
       0x1234,
       false},
      {"wrong record checksum",
       {{"Brevanto_RX2.hex", BadChecksumHex()}},
       "Brevanto_RX2.hex, line 2: wrong record checksum",
       0,
       false},
      {"a damaged hex is not passed over for the bin",
       {{"Brevanto_RX2.hex", BadChecksumHex()}, {"Brevanto_RX2.bin", kGoodBin}},
       "Brevanto_RX2.hex, line 2: wrong record checksum",
       0,
       false},
      {"truncated hex",
       {{"Brevanto_RX2.hex", kGoodHex.substr(0, kGoodHex.find(":00000001"))}},
       "Brevanto_RX2.hex: the file ends without an end-of-file record (:00000001FF); it may be "
       "truncated",
       0,
       false},
      {"hex with the end record only",
       {{"Brevanto_RX2.hex", ":00000001FF\r\n"}},
       "Brevanto_RX2.hex: the file holds no firmware data",
       0,
       false},
      {"empty bin",
       {{"Brevanto_RX2.bin", ""}},
       "Brevanto_RX2.bin: the file holds no firmware data",
       0,
       false},
      {"bin larger than the flash",
       {{"Brevanto_RX2.bin", tooLarge}},
       "Brevanto_RX2.bin: the file is larger than the 256 KiB firmware image (262144 bytes)",
       0,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir files;
    for (const auto& [name, content] : c.files) files.Write(name, content);
    w.shell.currentDirectory = files.Path();
    w.app.ModelIndex = 1;
    LeaveEarlierLoad();

    w.input().Click(*f().USBLoadFileBitBtn);

    const std::string status = f().lblUpdaeFileStatus->Caption();
    EXPECT_EQ(status.substr(0, std::string(c.status).size()), c.status) << status;
    EXPECT_EQ(w.core.FlashImage.Length, c.length);
    EXPECT_EQ(f().btnSimpleAuto->Enabled(), c.ready);
    if (c.length == 0x1234) {
      // No file at all: the path of the last try, and the earlier load's flags are kept.
      EXPECT_EQ(w.core.UpdateFilePath, (files.Path() / "Brevanto_RX2.bin").string());
      EXPECT_EQ(w.core.ProgramFileReady, 1);
      EXPECT_EQ(w.core.UpdateFileLoaded, 1);
    } else {
      EXPECT_EQ(w.core.ProgramFileReady, c.ready);
      EXPECT_EQ(w.core.UpdateFileLoaded, c.ready);
      EXPECT_EQ(f().pnlUSBExist->GetColor() == ui::clLime, c.ready);
    }
    if (c.length == 0) {
      EXPECT_TRUE(AllErased(w.core.FlashImage));
    }
  }
  EXPECT_TRUE(w.shell.boxes.empty());
  EXPECT_TRUE(w.shell.errors.empty());
}

TEST_F(FirmwareFile, StoredPathIsLoadedWithItsChecksumOrRefused) {
  struct Case {
    const char* name;  // in the temporary folder; "" for an empty path
    std::string content;
    bool write;
    const char* checksum;  // lblUSBChecksum afterwards
    bool ready;
    std::uint32_t length;
  };
  const std::string oneByteAt16 = Hex(0x0010, {0x00});
  const Case cases[] = {
      {"fw.bin", "\x01\x02\x03", true, "Checksum : 0x0006", true, 3},
      {"fw.H00", oneByteAt16, true, "Checksum : 0x0FF0", true, 0x11},
      {"FW.HEX", ":0400000001020304F2\r\n:00000001FF\r\n", true, "Checksum : 0x000A", true, 4},
      {"fw.hex", BadChecksumHex(), true, "fw.hex, line 2: wrong record checksum", false, 0},
      {"fw.bin", "", true, "fw.bin: the file holds no firmware data", false, 0},
      {"missing.bin", "", false, "missing.bin: the file cannot be opened", false, 0},
      {"notes.txt", "\x01\x02\x03", true,
       "notes.txt: not a firmware file name, which ends in .hex, .h00 or .bin", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = c.write ? dir.Write(c.name, c.content) : dir.Path() / c.name;
    w.core.UpdateFilePath = path.string();
    LeaveEarlierLoad();

    f().ReadProgramFile();

    const std::string shown = f().lblUSBChecksum->Caption();
    EXPECT_EQ(shown.substr(0, std::string(c.checksum).size()), c.checksum) << shown;
    EXPECT_EQ(w.core.ProgramFileReady, c.ready);
    EXPECT_EQ(w.core.FlashImage.Length, c.length);
    if (!c.ready) {
      EXPECT_TRUE(AllErased(w.core.FlashImage));
    }
    EXPECT_EQ(f().cbxReadISPFile->Text(), path.string());
  }
  EXPECT_TRUE(w.shell.boxes.empty());
}

TEST_F(FirmwareFile, EmptyStoredPathAsksForAFile) {
  LeaveEarlierLoad();
  f().ReadProgramFile();
  ASSERT_EQ(w.shell.boxes.size(), 1u);
  EXPECT_EQ(w.shell.boxes[0].text, "Program File Not Ready !!    ");
  EXPECT_EQ(w.shell.boxes[0].caption, "Dialog");
  EXPECT_EQ(w.shell.boxes[0].style, kMbOk);
  EXPECT_EQ(w.core.ProgramFileReady, 0);
  EXPECT_TRUE(f().cbxReadISPFile->Items().empty());
  EXPECT_EQ(f().lblUSBChecksum->Caption(), "Checksum :");
}

TEST_F(FirmwareFile, EachPathIsListedOnceAndShownAsTheText) {
  const auto a = dir.Write("a.bin", "\x01").string();
  const auto upper = dir.Write("A.bin", "\x02").string();
  for (const std::string& path : {a, a, upper, a}) {
    w.core.UpdateFilePath = path;
    f().ReadProgramFile();
    EXPECT_EQ(f().cbxReadISPFile->Text(), path);
  }
  // The comparison is exact: names differing in case are different entries.
  EXPECT_EQ(f().cbxReadISPFile->Items(), (std::vector<std::string>{a, upper}));
}

// After the one update of this run, "File" still loads, but "Finish" stays: no second update.
TEST_F(FirmwareFile, AfterTheUpdateFileLeavesFinishAsItIs) {
  dir.Write("Brevanto_RX2.hex", kGoodHex);
  w.app.ModelIndex = 1;
  w.app.UpdateFinished = 1;
  f().btnSimpleAuto->SetCaption("Finish");
  f().btnSimpleAuto->SetEnabled(false);
  w.input().Click(*f().USBLoadFileBitBtn);
  EXPECT_EQ(w.core.FlashImage.Length, 48u);
  EXPECT_FALSE(f().btnSimpleAuto->Enabled());
  f().btnSimpleAutoClick(*f().btnSimpleAuto);  // as a click that reached it all the same
  EXPECT_TRUE(w.shell.boxes.empty());
  EXPECT_EQ(f().btnSimpleAuto->Caption(), "Finish");
}

}  // namespace
}  // namespace qv::test
