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
  EXPECT_EQ(core().ProtectValue, GetParam().wordMode ? 0x7F : 0xFF);
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

// The request log's times tell the pauses: each request takes the 125 us latency, and every
// further gap is a pause of the tool's.
TEST_F(UpdateFaults, PausesAndOpensComeWhereTheSequenceHasThem) {
  LoadImage(512);
  device().Chip().Isp().SetReadyAfterSends(std::optional<std::uint32_t>{});  // never ready
  RecordingProgress progress;
  const std::size_t opensBefore = bus().OpenCount();
  EXPECT_TRUE(RunOneClickUpdate(core(), progress).success);
  // The first open, and the one after the erase of the (only) attempt.
  EXPECT_EQ(bus().OpenCount() - opensBefore, 2u);

  const auto& entries = log().Entries();
  const auto latency = std::chrono::microseconds(125);
  const auto gapAfter = [&](std::size_t i) { return entries[i + 1].at - entries[i].at - latency; };
  const auto isSend = [&](std::size_t i, std::uint8_t op) {
    return entries[i].request == 0x80 && !entries[i].data.empty() && entries[i].data[0] == op;
  };
  std::size_t chipErases = 0, statusWrites = 0, pagePrograms = 0;
  for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
    if (isSend(i, 0xC7)) {
      ++chipErases;
      EXPECT_EQ(gapAfter(i), std::chrono::milliseconds(10));  // before the first poll
    }
    if (isSend(i, 0x01) && entries[i].data[1] == 0x00) {
      ++statusWrites;
      // The status wait: a busy answer, 10 ms, then the next status read.
      ASSERT_LT(i + 4, entries.size());
      EXPECT_EQ(entries[i + 1].request, 0x81);
      EXPECT_EQ(gapAfter(i + 3), std::chrono::milliseconds(10));
    }
    if (isSend(i, 0x02) && entries[i].index == 0) {
      ++pagePrograms;
      // After the page's ending request: ten ready polls, each after 1 ms; a chip that never
      // reports ready does not hold the programming longer.
      const std::size_t end = i + 1;
      for (std::size_t k = 1; k <= 10; ++k) {
        ASSERT_EQ(entries[end + k].request, 0x83);
        EXPECT_EQ(entries[end + k].at - entries[end + k - 1].at - latency,
                  std::chrono::milliseconds(1));
      }
      EXPECT_NE(entries[end + 11].request, 0x83);
    }
  }
  EXPECT_EQ(chipErases, 1u);
  EXPECT_EQ(statusWrites, 1u);
  EXPECT_EQ(pagePrograms, 2u);
}

TEST_F(UpdateFaults, AStopEndsTheAttemptThenProtectsAndLeavesIspMode) {
  LoadImage(8192);
  RecordingProgress progress;
  progress.onText = [&](const std::string& text) {
    if (text == "Start Programming") progress.stop = true;
  };
  const UpdateResult result = RunOneClickUpdate(core(), progress);
  EXPECT_FALSE(result.success);
  EXPECT_TRUE(result.stopped);
  EXPECT_TRUE(result.erased);
  EXPECT_TRUE(result.secured);
  EXPECT_EQ(progress.Count("ISP Fail and retry"), 0);  // no further attempt
  EXPECT_EQ(progress.Last(FlashProgress::Label::kProcessInfo), "Stopped at 0x000000");
  EXPECT_EQ(progress.statuses.back().first, "Firmware update Fail!");
  EXPECT_EQ(flash().Status() & 0xFC, 0xFC);
  EXPECT_FALSE(device().Chip().Isp().InIspMode());
  EXPECT_EQ(core().SequenceFailed, 1);
}

TEST_F(UpdateFaults, ChecksRefuseBeforeTheEraseOrEndTheRetries) {
  LoadImage(1024);
  const auto before = FlashBytes(0, 1024);
  UpdateChecks refuse;
  refuse.beforeErase = [](CoreState&) { return std::optional<std::string>("no"); };
  RecordingProgress progress;
  UpdateResult result = RunOneClickUpdate(core(), progress, refuse);
  EXPECT_FALSE(result.success);
  EXPECT_FALSE(result.erased);
  EXPECT_EQ(result.reason, "no");
  EXPECT_EQ(FlashBytes(0, 1024), before);
  for (const auto& e : log().Entries())
    EXPECT_FALSE(e.request == 0x80 && e.data == std::vector<std::uint8_t>{0xC7});
  EXPECT_FALSE(device().Chip().Isp().InIspMode());

  // After a failed attempt a check can end the retries: one attempt, not three.
  device().Chip().Isp().SetFlipReads(1);
  int asked = 0;
  UpdateChecks once;
  once.beforeRetry = [&](const CoreState&) {
    ++asked;
    return std::optional<std::string>("gone");
  };
  RecordingProgress second;
  result = RunOneClickUpdate(core(), second, once);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(result.reason, "gone");
  EXPECT_EQ(second.Count("ISP Fail and retry"), 0);
  EXPECT_EQ(second.Count("Start Blanking Check"), 1);
}

TEST_F(UpdateFaults, AnEraseInstructionThatFailsIsNotWaitedFor) {
  LoadImage(1024);
  RecordingProgress progress;
  bool failed = false;
  progress.onText = [&](const std::string& text) {
    // Write enable, then the erase instruction, which fails.
    if (text == "Flash Erase All " && !failed) {
      device().FailRequestNumber(device().RequestCount() + 2);
      failed = true;
    }
  };
  EXPECT_TRUE(RunOneClickUpdate(core(), progress).success);
  EXPECT_EQ(progress.Count("Erase Flash Fail"), 1);
  EXPECT_EQ(progress.Count("ISP Fail and retry"), 1);
  EXPECT_EQ(progress.Count("Start Blanking Check"), 1);  // only in the attempt that erased
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
