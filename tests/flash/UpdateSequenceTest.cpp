#include "flash/UpdateSequence.h"

#include <gtest/gtest.h>

#include "flash/FlashOperations.h"
#include "tests/flash/FlashTestSupport.h"

namespace qv::test {
namespace {

using Style = UpdateProgress::Style;

struct ChipCase {
  const char* setup;
  std::uint16_t pageSize;
  std::uint8_t wordMode;
  std::uint8_t finalStatus;  // what the protect step leaves in the status register
};

class OneClickUpdate : public FlashFixture, public ::testing::WithParamInterface<ChipCase> {
 protected:
  OneClickUpdate() : FlashFixture(GetParam().setup) {}
};

TEST_P(OneClickUpdate, WritesTheImageAndLeavesTheChipProtectedOutOfIspMode) {
  LoadImage(20000);
  RecordingProgress progress;
  EXPECT_TRUE(RunOneClickUpdate(core(), progress).success);
  EXPECT_EQ(core().PageSize, GetParam().pageSize);
  EXPECT_EQ(core().WordProgramMode, GetParam().wordMode);
  EXPECT_EQ(FlashBytes(0, 20000), ImageBytes(0, 20000));
  EXPECT_EQ(FlashBytes(20000, 4096), std::vector<std::uint8_t>(4096, 0xFF));
  EXPECT_EQ(flash().Status(), GetParam().finalStatus);
  EXPECT_FALSE(device().Chip().Isp().InIspMode());
  EXPECT_FALSE(core().UsbDevice.IsOpen());
  EXPECT_EQ(core().SequenceFailed, 0);
  const std::vector<std::string> expected = {"Enter ISP Mode",      "Clear Status register",
                                             "Flash Erase All ",    "Start Blanking Check",
                                             "Blanking Success",    "Start Programming",
                                             "Programming Success", "Start Verifying Check",
                                             "Verifying Success",   "Firmware update success!"};
  // Long erases add dots; the texts otherwise come in this order.
  std::vector<std::string> texts;
  for (const auto& t : progress.StatusTexts())
    if (t.rfind("Flash Erase All .", 0) != 0) texts.push_back(t);
  EXPECT_EQ(texts, expected);
  EXPECT_EQ(progress.statuses.back().second, Style::kSuccess);
}

INSTANTIATE_TEST_SUITE_P(Chips, OneClickUpdate,
                         ::testing::Values(ChipCase{"flash=EF4013", 256, 0, 0xFC},
                                           ChipCase{"flash=C22213", 32, 0, 0xBC},
                                           ChipCase{"flash=C22013", 256, 0, 0xBC},
                                           ChipCase{"flash=BF258D", 256, 1, 0x3C}));

class UpdateFaults : public FlashFixture {
 protected:
  explicit UpdateFaults(const std::string& setup = "") : FlashFixture(setup) {}
};

TEST_F(UpdateFaults, AVerifyFailureIsRetriedOnceThenSucceeds) {
  LoadImage(8192);
  RecordingProgress progress;
  bool spoiled = false;
  progress.onText = [&](const std::string& text) {
    // During the first verify every read comes back flipped.
    if (text == "Start Verifying Check" && !spoiled) {
      device().Chip().Isp().SetFlipReads(1);
      spoiled = true;
    }
    if (text == "ISP Fail and retry") device().Chip().Isp().SetFlipReads(0);
  };
  EXPECT_TRUE(RunOneClickUpdate(core(), progress).success);
  EXPECT_EQ(progress.Count("ISP Fail and retry"), 1);
  EXPECT_EQ(progress.retriesOver, 1);
  EXPECT_EQ(progress.Count("Firmware update success!"), 1);
  EXPECT_EQ(progress.Last(FlashProgress::Label::kProcessInfo).substr(0, 20),
            "Verifying Fail at 0x");
  EXPECT_EQ(FlashBytes(0, 8192), ImageBytes(0, 8192));
}

class AlwaysFlipping : public UpdateFaults {
 protected:
  AlwaysFlipping() : UpdateFaults("flip-reads=1") {}
};

TEST_F(AlwaysFlipping, ThreeFailedAttemptsEndInFailureWithTheChipProtected) {
  LoadImage(4096);
  RecordingProgress progress;
  const auto before = clock().Slept();
  EXPECT_FALSE(RunOneClickUpdate(core(), progress).success);
  EXPECT_EQ(progress.Count("ISP Fail and retry"), 3);
  EXPECT_EQ(progress.Count("Blanking Success"), 0);
  EXPECT_EQ(progress.statuses.back(),
            std::make_pair(std::string("Firmware update Fail!"), Style::kFailure));
  EXPECT_EQ(core().SequenceFailed, 1);
  EXPECT_EQ(flash().Status() & 0xFC, 0xFC);
  EXPECT_FALSE(device().Chip().Isp().InIspMode());
  EXPECT_GE(clock().Slept() - before, std::chrono::milliseconds(3000));
}

class NoIdAnswer : public UpdateFaults {
 protected:
  NoIdAnswer() : UpdateFaults("flash=C22213") {}
};

TEST_F(NoIdAnswer, AnUnansweredIdentificationKeepsTheStartValueAnd256BytePages) {
  LoadImage(256);
  device().Chip().Isp().SetReadyAfter(std::nullopt);
  RecordingProgress progress;
  EXPECT_FALSE(RunOneClickUpdate(core(), progress).success);
  EXPECT_EQ(core().FlashChipId, (FlashId{0, 0, 0}));
  EXPECT_EQ(core().PageSize, 256);
  EXPECT_EQ(core().WordProgramMode, 0);
}

TEST_F(UpdateFaults, AnEmptyImageIsNoUpdateAndTouchesNothing) {
  // Erasing the device and programming nothing would leave it without firmware.
  const auto before = FlashBytes(0, 256);
  core().FlashImage.Length = 0;
  RecordingProgress progress;
  EXPECT_FALSE(RunOneClickUpdate(core(), progress).success);
  EXPECT_EQ(log().Size(), 0u);
  EXPECT_EQ(FlashBytes(0, 256), before);
  EXPECT_EQ(core().SequenceFailed, 1);
}

}  // namespace
}  // namespace qv::test
