#include "flash/FlashOperations.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/flash/FlashTestSupport.h"
#include "util/Text.h"

namespace qv::test {

void FlashFixture::ChipSetUpAndErase() {
  ChipSetUp(core_);
  ClearStatusRegister(core_);
  FlashWriteEnable(core_.UsbDevice);
  FlashChipErase(core_.UsbDevice);
  StatusWait(core_);
  bus().ClearLog();
}

namespace {

using Label = FlashProgress::Label;

class FlashOperations : public FlashFixture {};

TEST_F(FlashOperations, BlankCheckComparesExactlyTheRange) {
  PrepareErased();
  flash().MutableContents()[100] = 0x00;  // just past a 100-byte image
  RecordingProgress progress;
  EXPECT_TRUE(BlankCheckRange(core(), progress, 0, 100));
  EXPECT_EQ(Requests(0x81), 2u);  // blocks 0 and 64
  EXPECT_EQ(progress.Last(Label::kProcessAddress), "Blanking Addr: 0x000040");
}

TEST_F(FlashOperations, ANonBlankByteFailsAfterThreeReadsOfItsBlock) {
  PrepareErased();
  flash().MutableContents()[0x123] = 0x7F;
  RecordingProgress progress;
  EXPECT_FALSE(BlankCheckRange(core(), progress, 0, 0x400));
  EXPECT_EQ(progress.Last(Label::kProcessInfo), "Blanking Fail at 0x000123");
  // Blocks 0x000 to 0x0C0 once, then the block at 0x100 three times.
  EXPECT_EQ(Requests(0x81), 4u + 3u);
  EXPECT_EQ(log().Entries().back().request, 0x82);
}

TEST_F(FlashOperations, OneFailedReadIsRetriedAndTheScanGoesOn) {
  PrepareErased();
  device().FailRequestNumber(device().RequestCount() + 1);  // the first block's read request
  RecordingProgress progress;
  EXPECT_TRUE(BlankCheckRange(core(), progress, 0, 128));
  EXPECT_EQ(Requests(0x81), 3u);  // block 0 twice (the first refused), then block 64
}

TEST_F(FlashOperations, NormalModeProgramsPagesAndSkipsErasedOnes) {
  PrepareErased();
  LoadImage(4096);
  std::fill_n(core().FlashImage.Data.begin() + 1024, 256, 0xFF);  // one erased page
  core().RangeStart = 0x8000;
  RecordingProgress progress;
  EXPECT_TRUE(ProgramRange(core(), progress, core().FlashImage.Data, 0x8000, 0x8000 + 4096));
  EXPECT_EQ(FlashBytes(0x8000, 4096), ImageBytes(0, 4096));
  std::size_t programs = 0;
  for (const auto& e : log().Entries())
    programs += e.request == 0x80 && !e.data.empty() && e.data[0] == 0x02;
  EXPECT_EQ(programs, 15u);
  EXPECT_EQ(progress.Last(Label::kProcessAddress), "0x008F00");
}

TEST_F(FlashOperations, AFailedWriteEnableOrProgramRequestFailsTheProgramming) {
  for (int failing : {1, 2}) {  // the page's write enable, then its first program request
    SCOPED_TRACE(failing);
    PrepareErased();
    LoadImage(1024);
    RecordingProgress progress;
    // The busy wait's status read comes first (instruction, ready, fetch).
    device().FailRequestNumber(device().RequestCount() + 3 + static_cast<std::uint64_t>(failing));
    EXPECT_FALSE(ProgramRange(core(), progress, core().FlashImage.Data, 0, 1024));
    std::size_t programs = 0;
    for (const auto& e : log().Entries())
      programs += e.request == 0x80 && !e.data.empty() && e.data[0] == 0x02;
    EXPECT_EQ(programs, failing == 1 ? 0u : 1u);  // the refused one is logged, nothing more
    EXPECT_EQ(FlashBytes(0, 1024), std::vector<std::uint8_t>(1024, 0xFF));
  }
}

TEST_F(FlashOperations, RangesPastTheAddressSpaceOrTheImageAreRefusedUnsent) {
  PrepareErased();
  LoadImage(4096);
  struct Case {
    const char* name;
    std::function<bool(FlashProgress&)> operation;
    const char* text;
    FlashStep step;
  };
  const Case cases[] = {
      {"blank check past 0xFFFFFF",
       [&](FlashProgress& p) { return BlankCheckRange(core(), p, 0xFFF000, 0x1000800); },
       "Range Error: 0xFFF000 to 0x10007FF is past the last flash address 0xFFFFFF",
       FlashStep::kBlankCheck},
      {"program ending before it starts",
       [&](FlashProgress& p) {
         return ProgramRange(core(), p, core().FlashImage.Data, 0xFFFFFC00, 0xC00);
       },
       "Range Error: the range ends before it starts", FlashStep::kProgram},
      {"verify longer than the image",
       [&](FlashProgress& p) { return VerifyRange(core(), p, core().FlashImage.Data, 0, 0x40001); },
       "Range Error: 262145 bytes are more than the image's 262144", FlashStep::kVerify},
      {"read back from 16 MiB",
       [&](FlashProgress& p) { return ReadBackRange(core(), p, 0x1000000, 0x1000040); },
       "Range Error: 0x1000000 to 0x100003F is past the last flash address 0xFFFFFF",
       FlashStep::kReadBack},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bus().ClearLog();
    RecordingProgress progress;
    EXPECT_FALSE(c.operation(progress));
    EXPECT_EQ(progress.Last(Label::kProcessInfo), c.text);
    // A refusal names no address, though its text shows some.
    EXPECT_EQ(progress.events.back(),
              (FlashEvent{.step = c.step, .kind = FlashEvent::Kind::kFailure, .text = c.text}));
    EXPECT_EQ(log().Size(), 0u);
  }
  // A sector range past it is refused before the connection is even opened.
  core().RangeStart = 0xFFF000;
  core().RangeSize = 0x2000;
  core().SequenceFailed = 0;
  const std::size_t opens = bus().OpenCount();
  RecordingProgress progress;
  EXPECT_FALSE(EraseFlash(core(), progress, EraseMode::kSectors));
  EXPECT_EQ(progress.Last(Label::kProcessInfo),
            "Range Error: sectors 0xFFF000 to 0x1000FFF are past the last flash address 0xFFFFFF");
  EXPECT_EQ(core().SequenceFailed, 1);
  EXPECT_EQ(bus().OpenCount(), opens);
}

TEST_F(FlashOperations, AStopEndsAScanAtTheNextBlock) {
  PrepareErased();
  RecordingProgress progress;
  int blocks = 0;
  progress.onText = [&](const std::string&) {};
  // Two blocks pass, then the stop comes before the third.
  struct CountingProgress : RecordingProgress {
    int* blocks;
    bool StopRequested() override { return ++*blocks > 2; }
  } counting;
  counting.blocks = &blocks;
  EXPECT_FALSE(BlankCheckRange(core(), counting, 0, 0x1000));
  EXPECT_EQ(counting.Last(Label::kProcessInfo), "Stopped at 0x000080");
  EXPECT_EQ(counting.events.back(), (FlashEvent{.step = FlashStep::kBlankCheck,
                                                .kind = FlashEvent::Kind::kStopped,
                                                .address = 0x80,
                                                .text = "Stopped at 0x000080"}));
  EXPECT_EQ(Requests(0x81), 2u);
}

TEST_F(FlashOperations, VerifyFindsTheFirstDifferingByte) {
  PrepareErased();
  LoadImage(512);
  RecordingProgress progress;
  ASSERT_TRUE(ProgramRange(core(), progress, core().FlashImage.Data, 0, 512));
  EXPECT_TRUE(VerifyRange(core(), progress, core().FlashImage.Data, 0, 512));
  core().FlashImage.Data[0x1C5] ^= 0x10;
  EXPECT_FALSE(VerifyRange(core(), progress, core().FlashImage.Data, 0, 512));
  EXPECT_EQ(progress.Last(Label::kProcessInfo), "Verifying Fail at 0x0001C5");
  EXPECT_EQ(progress.events.back(), (FlashEvent{.step = FlashStep::kVerify,
                                                .kind = FlashEvent::Kind::kFailure,
                                                .address = 0x1C5,
                                                .text = "Verifying Fail at 0x0001C5"}));
}

TEST_F(FlashOperations, ProgramBeforeAnySequenceIdentifiesTheFlashFirst) {
  PrepareErased();
  core().PageSize = 0;
  LoadImage(300);
  SilentProgress progress;
  EXPECT_TRUE(ProgramRange(core(), progress, core().FlashImage.Data, 0, 300));
  EXPECT_EQ(core().PageSize, 256);
  EXPECT_EQ(FlashBytes(0, 300), ImageBytes(0, 300));
}

TEST_F(FlashOperations, ABusyFlashFailsProgrammingAfter101StatusReads) {
  PrepareErased();
  LoadImage(256);
  flash().SetStuckBusy(true);
  RecordingProgress progress;
  const auto before = clock().Slept();
  EXPECT_FALSE(ProgramRange(core(), progress, core().FlashImage.Data, 0, 256));
  EXPECT_EQ(clock().Slept() - before, std::chrono::milliseconds(101));
  EXPECT_EQ(Requests(0x02), 0u);
  for (const auto& e : log().Entries()) EXPECT_FALSE(e.data.size() > 4 && e.data[0] == 0x02);
}

TEST_F(FlashOperations, ChipEraseOfADeviceThatLeavesFailsAtOnce) {
  core().UsbDevice.Open();
  SetIspMode(core().UsbDevice, true);
  core().UsbDevice.Close();
  device().GoneAfterRequests(device().RequestCount() + 3);
  RecordingProgress progress;
  const auto before = clock().Now();
  EXPECT_FALSE(EraseFlash(core(), progress, EraseMode::kChip));
  EXPECT_EQ(progress.Last(Label::kProcessInfo), "Erase Flash Fail");
  EXPECT_EQ(progress.Last(Label::kStatusRegister), "Status Register: 0xFF");
  EXPECT_EQ(core().SequenceFailed, 1);
  // One poll meets the gone device; the rest of the ten seconds is not waited for.
  int polls = 0;
  for (const auto& s : progress.shown) polls += s.label == Label::kStatusRegister;
  EXPECT_EQ(polls, 1);
  EXPECT_LT(clock().Now() - before, std::chrono::milliseconds(50));
  EXPECT_FALSE(core().UsbDevice.IsOpen());
}

TEST_F(FlashOperations, EraseTextsGrowTheirDotsEvery20Polls) {
  EXPECT_EQ(EraseAllText(0), "Flash Erase All ");
  EXPECT_EQ(EraseAllText(19), "Flash Erase All ");
  EXPECT_EQ(EraseAllText(20), "Flash Erase All .");
  EXPECT_EQ(EraseAllText(199), "Flash Erase All .........");
  EXPECT_EQ(EraseAllText(200), "Flash Erase All ");
}

TEST_F(FlashOperations, SectorEraseCoversTheRangeWithoutRounding) {
  core().UsbDevice.Open();
  SetIspMode(core().UsbDevice, true);
  ClearStatusRegister(core());
  core().UsbDevice.Close();
  bus().ClearLog();
  core().RangeStart = 33 * 1024;
  core().RangeSize = 8 * 1024;
  RecordingProgress progress;
  EXPECT_TRUE(EraseFlash(core(), progress, EraseMode::kSectors));
  std::vector<std::vector<std::uint8_t>> erases;
  for (const auto& e : log().Entries())
    if (e.request == 0x80 && e.data.size() == 4 && e.data[0] == 0x20) erases.push_back(e.data);
  EXPECT_EQ(erases, (std::vector<std::vector<std::uint8_t>>{{0x20, 0x00, 0x84, 0x00},
                                                            {0x20, 0x00, 0x94, 0x00}}));
  EXPECT_EQ(progress.Last(Label::kProcessInfo), "Flash Sector Erase: 0x 009400");
  // Each sector's polls are the erase step at that sector.
  EXPECT_EQ(progress.events.back(), (FlashEvent{.step = FlashStep::kErase,
                                                .kind = FlashEvent::Kind::kStart,
                                                .address = 0x9400,
                                                .text = "Flash Sector Erase: 0x 009400"}));
  // The flash erased whole sectors around those addresses.
  EXPECT_EQ(FlashBytes(0x8000, 0x2000), std::vector<std::uint8_t>(0x2000, 0xFF));
}

TEST_F(FlashOperations, AnySectorThatTimesOutFailsTheSectorErase) {
  core().UsbDevice.Open();
  SetIspMode(core().UsbDevice, true);
  ClearStatusRegister(core());
  core().UsbDevice.Close();
  core().RangeStart = 0;
  core().RangeSize = 3 * 4096;
  RecordingProgress progress;
  flash().SetStuckBusy(true);
  // Only the first sector's erase hangs; the later ones finish.
  progress.onText = [&](const std::string& text) {
    if (text == "Flash Sector Erase: 0x 001000") flash().SetStuckBusy(false);
  };
  EXPECT_FALSE(EraseFlash(core(), progress, EraseMode::kSectors));
  EXPECT_EQ(progress.Last(Label::kProcessInfo), "Erase Flash Fail");
  EXPECT_EQ(core().SequenceFailed, 1);
}

TEST_F(FlashOperations, ReadBackReadsEveryBlockTwiceAndDumpsText) {
  PrepareErased();
  LoadImage(0x8000);
  SilentProgress silent;
  ASSERT_TRUE(ProgramRange(core(), silent, core().FlashImage.Data, 0, 0x8000));
  bus().ClearLog();
  RecordingProgress progress;
  EXPECT_TRUE(ReadBackRange(core(), progress, 0, 0x8000));
  EXPECT_EQ(Requests(0x81), 2u * 0x8000 / 64);
  EXPECT_TRUE(std::equal(core().ReadBackBuffer.begin(), core().ReadBackBuffer.begin() + 0x8000,
                         flash().Contents().begin()));
  const std::string dump = FormatReadBackDump(core().ReadBackBuffer, 0x8000);
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\r'), 2048);
  EXPECT_EQ(dump.find('\n'), std::string::npos);
  std::string firstLine;
  for (int i = 0; i < 16; ++i) firstLine += "0x" + FormatHex(flash().Contents()[i], 2) + ", ";
  EXPECT_EQ(dump.substr(0, dump.find('\r')), firstLine);
}

class FlippingFlash : public FlashFixture {
 protected:
  FlippingFlash() : FlashFixture("flip-reads=2") {}
};

TEST_F(FlippingFlash, ReadBackCountsTwoDifferingReadsAsAFailure) {
  PrepareErased();
  RecordingProgress progress;
  // Every second read is flipped: the two reads of a block never agree.
  EXPECT_FALSE(ReadBackRange(core(), progress, 0, 256));
  EXPECT_EQ(progress.Last(Label::kProcessInfo).substr(0, 20), "Verifying Fail at 0x");
  // Reading a block once at a time, a flipped read is followed by a clean one and passes.
  EXPECT_TRUE(BlankCheckRange(core(), progress, 0, 256));
}

}  // namespace
}  // namespace qv::test
