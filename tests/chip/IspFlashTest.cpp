#include "chip/IspFlash.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <vector>

#include "chip/Registers.h"
#include "tests/support/SimFixture.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

class IspFixture : public test::SimFixture {
 protected:
  explicit IspFixture(const std::string& setup = "") : SimFixture(setup) {}

  // Connected, in ISP mode, the request log emptied.
  void EnterIsp() {
    ConnectAudio();
    ASSERT_TRUE(SetIspMode(usb(), true));
    bus().ClearLog();
  }
  void WaitWhileBusy() {
    for (int i = 0; i < 1000 && (FlashReadStatus(usb()) & kFlashStatusBusy); ++i) clock().Sleep(10);
  }
  void Unprotect() {
    FlashWriteEnable(usb());
    FlashWriteStatus(usb(), 0x00);
    WaitWhileBusy();
  }
  void EraseChip() {
    FlashWriteEnable(usb());
    FlashChipErase(usb());
    WaitWhileBusy();
  }
  // Programs data at address the way the update does for this chip: word program for word
  // program parts, otherwise page programs of pageSize bytes.
  void Program(std::uint32_t address, const Bytes& data, std::size_t pageSize, bool words) {
    for (std::size_t off = 0; off < data.size(); off += pageSize) {
      const std::span<const std::uint8_t> page(data.data() + off, pageSize);
      WaitWhileBusy();
      FlashWriteEnable(usb());
      if (words) {
        FlashProgramWords(usb(), address + off, page);
        FlashWriteDisable(usb());
      } else {
        FlashProgramPage(usb(), address + off, page);
      }
    }
    WaitWhileBusy();
  }
  Bytes Flash(std::size_t from, std::size_t count) {
    const auto contents = device().Chip().Flash().Contents();
    return Bytes(contents.begin() + from, contents.begin() + from + count);
  }
  // The data stages of the logged 0x80 requests, in order.
  std::vector<Bytes> SentInstructions() {
    std::vector<Bytes> sent;
    for (const auto& e : log().Entries())
      if (e.request == 0x80) sent.push_back(e.data);
    return sent;
  }
};

Bytes Pattern(std::size_t n, unsigned seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 31 + seed) ^ (i >> 5));
  return b;
}

class IspCommands : public IspFixture {};

TEST_F(IspCommands, EnteringAndLeavingIspModeSendTheKeysAndSetUpBank13) {
  ConnectAudio();
  EXPECT_TRUE(SetIspMode(usb(), true));
  EXPECT_TRUE(device().Chip().Isp().InIspMode());
  EXPECT_EQ(device().Chip().Peek(13, 0x07), 0x10);
  EXPECT_EQ(device().Chip().Peek(13, 0x01), 0x03);
  ASSERT_EQ(log().Size(), 4u);
  EXPECT_EQ(log()[0].request, 0x84);
  EXPECT_EQ(log()[0].value, 0x6A4E);
  EXPECT_EQ(log()[0].index, 0x1C39);
  EXPECT_EQ(log()[0].length, 0u);
  EXPECT_EQ(log()[2].index, 0x07);  // enable first, then the mode register
  EXPECT_EQ(log()[3].index, 0x01);

  EXPECT_TRUE(SetIspMode(usb(), false));
  EXPECT_FALSE(device().Chip().Isp().InIspMode());
  EXPECT_EQ(device().Chip().Peek(13, 0x07), 0x00);
  EXPECT_EQ(log()[4].value, 0x3D72);
  EXPECT_EQ(log()[4].index, 0x49B6);
  EXPECT_EQ(device().Chip().SelectedBank(), 13);
  // Outside ISP mode the chip refuses the flash pass-through.
  EXPECT_FALSE(FlashWriteEnable(usb()));
  EXPECT_EQ(FlashReadStatus(usb()), 0xFF);
}

TEST_F(IspCommands, SetUpRegistersAreWrittenEvenWhenTheSwitchFails) {
  ConnectAudio();
  device().FailRequestNumber(device().RequestCount() + 1);
  EXPECT_FALSE(SetIspMode(usb(), true));
  EXPECT_EQ(device().Chip().Peek(13, 0x07), 0x10);
  EXPECT_FALSE(device().Chip().Isp().InIspMode());
}

TEST_F(IspCommands, InstructionsTravelAsTheProtocolLaysThemOut) {
  EnterIsp();
  FlashWriteEnable(usb());
  FlashSectorErase(usb(), 0x12345);
  FlashSectorErase(usb(), 0xFF012345);  // bits 31-24 are not sent
  FlashWriteStatus(usb(), 0x9C);
  const std::vector<Bytes> expected = {
      {0x06}, {0x20, 0x01, 0x23, 0x45}, {0x20, 0x01, 0x23, 0x45}, {0x01, 0x9C}};
  EXPECT_EQ(SentInstructions(), expected);
  for (const auto& e : log().Entries()) {
    EXPECT_EQ(e.index, 1);  // each ends its flash instruction
    EXPECT_EQ(e.value, 0);
  }
}

TEST_F(IspCommands, ReadPageAsksThenPollsThenFetches) {
  EnterIsp();
  device().Chip().Flash().MutableContents()[0x40] = 0xAB;
  Bytes out(64);
  ASSERT_TRUE(FlashReadPage(usb(), clock(), 0x40, out));
  EXPECT_EQ(out[0], 0xAB);
  ASSERT_EQ(log().Size(), 3u);
  EXPECT_EQ(log()[0].request, 0x81);
  EXPECT_EQ(log()[0].value, 64);
  EXPECT_EQ(log()[0].index, 1);
  EXPECT_EQ(log()[0].data, (Bytes{0x03, 0x00, 0x00, 0x40}));
  EXPECT_EQ(log()[1].request, 0x83);
  EXPECT_EQ(log()[2].request, 0x82);
  EXPECT_EQ(log()[2].length, 64u);
}

TEST_F(IspCommands, ProgramPageIsOneContinuedAndOneEndingRequest) {
  EnterIsp();
  const Bytes data = Pattern(256, 1);
  FlashProgramPage(usb(), 0x012300, data);
  ASSERT_EQ(log().Size(), 2u);
  EXPECT_EQ(log()[0].index, 0);
  EXPECT_EQ(log()[0].data, (Bytes{0x02, 0x01, 0x23, 0x00}));
  EXPECT_EQ(log()[1].index, 1);
  EXPECT_EQ(log()[1].data, data);
}

TEST_F(IspCommands, WordProgramSplitsIntoOneAddressedAndFurtherWordRequests) {
  EnterIsp();
  FlashProgramWords(usb(), 0x000100, Bytes{0x11, 0x22});
  FlashProgramWords(usb(), 0x000200, Bytes{1, 2, 3, 4, 5, 6});
  const std::vector<Bytes> expected = {{0xAD, 0x00, 0x01, 0x00, 0x11, 0x22},
                                       {0xAD, 0x00, 0x02, 0x00, 1, 2},
                                       {0xAD, 3, 4},
                                       {0xAD, 5, 6}};
  EXPECT_EQ(SentInstructions(), expected);
  bus().ClearLog();
  FlashProgramWords(usb(), 0, Pattern(256, 2));
  EXPECT_EQ(log().Size(), 128u);
}

TEST_F(IspCommands, LengthsOutsideTheirBoundsAreRefusedWithNothingSent) {
  EnterIsp();
  Bytes big(257), odd(3), one(1);
  EXPECT_FALSE(FlashReadPage(usb(), clock(), 0, std::span(big).first(0)));
  EXPECT_FALSE(FlashReadPage(usb(), clock(), 0, std::span(big).first(256)));
  EXPECT_FALSE(FlashProgramPage(usb(), 0, std::span(big).first(0)));
  EXPECT_FALSE(FlashProgramPage(usb(), 0, big));
  EXPECT_FALSE(FlashProgramWords(usb(), 0, odd));
  EXPECT_FALSE(FlashProgramWords(usb(), 0, one));
  EXPECT_FALSE(FlashCommandWrite(usb(), 0x02, Bytes{1, 2, 3, 4}));
  EXPECT_FALSE(FlashReadResult(usb(), std::span(big).first(256)));
  EXPECT_EQ(log().Size(), 0u);
}

TEST_F(IspCommands, ReadIdAndStatusFromTheFlash) {
  EnterIsp();
  FlashId id{};
  ASSERT_TRUE(FlashReadId(usb(), id));
  EXPECT_EQ(id, (FlashId{0xEF, 0x40, 0x13}));
  EXPECT_EQ(FlashReadStatus(usb()), 0xFC);  // as a previous update left it: protected
}

TEST_F(IspCommands, ACommandThatMeetsAFailedRequestSendsNothingMoreAndFails) {
  EnterIsp();
  Unprotect();
  EraseChip();
  // A page whose own bytes read as a page program of 0x000100: were the instruction and
  // address lost, the ending request would be executed as that instruction.
  Bytes page(16, 0x5A);
  page[0] = 0x02, page[1] = 0x00, page[2] = 0x01, page[3] = 0x00;
  FlashWriteEnable(usb());
  bus().ClearLog();
  device().FailRequestNumber(device().RequestCount() + 1);
  EXPECT_FALSE(FlashProgramPage(usb(), 0x000000, page));
  EXPECT_EQ(log().Size(), 1u);
  WaitWhileBusy();
  EXPECT_EQ(Flash(0x000100, 16), Bytes(16, 0xFF));
  EXPECT_EQ(Flash(0x000000, 16), Bytes(16, 0xFF));

  // Word program: a lost word would shift every later one; the first failure ends it.
  for (int failing : {1, 3}) {
    SCOPED_TRACE(failing);
    bus().ClearLog();
    device().FailRequestNumber(device().RequestCount() + static_cast<std::uint64_t>(failing));
    EXPECT_FALSE(FlashProgramWords(usb(), 0x200, Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(log().Size(), static_cast<std::size_t>(failing));
  }
}

TEST_F(IspCommands, AFailedInstructionIsNeverAnsweredByTheOneBefore) {
  EnterIsp();
  // The chip is ready with the answer of the instruction before, of the same length.
  FlashId id{};
  ASSERT_TRUE(FlashReadId(usb(), id));
  ASSERT_EQ(FlashReadStatus(usb()), 0xFC);
  for (int i = 0; i < 2; ++i) {
    bus().ClearLog();
    device().FailRequestNumber(device().RequestCount() + 1);
    if (i == 0) {
      FlashId stale{1, 2, 3};
      EXPECT_FALSE(FlashReadId(usb(), stale));
      EXPECT_EQ(stale, (FlashId{1, 2, 3}));
    } else {
      // 0xFF has the busy bit set: a wait goes on instead of ending on an old status.
      EXPECT_EQ(FlashReadStatus(usb()), 0xFF);
    }
    EXPECT_EQ(log().Size(), 1u);
  }
  // A fetch that fails leaves the caller's bytes, also for an identification.
  bus().ClearLog();
  device().FailRequestNumber(device().RequestCount() + 3);
  FlashId kept{7, 8, 9};
  EXPECT_FALSE(FlashReadId(usb(), kept));
  EXPECT_EQ(kept, (FlashId{7, 8, 9}));
}

TEST_F(IspCommands, AnswersAreAskedForAndFetchedAtTheirExactLengths) {
  EnterIsp();
  FlashId id{};
  ASSERT_TRUE(FlashReadId(usb(), id));
  FlashReadStatus(usb());
  // 0x9F asks for three bytes and fetches three; 0x05 one and one. The chip stalls a fetch of
  // any other length, so a wrong count fails the command instead of going unnoticed.
  ASSERT_EQ(log().Size(), 6u);
  EXPECT_EQ(log()[0].value, 3);
  EXPECT_EQ(log()[0].data, Bytes{0x9F});
  EXPECT_EQ(log()[2].length, 3u);
  EXPECT_EQ(log()[3].value, 1);
  EXPECT_EQ(log()[3].data, Bytes{0x05});
  EXPECT_EQ(log()[5].length, 1u);
  FlashCommandRead(usb(), 0x9F, 3);
  Bytes four(4);
  EXPECT_FALSE(FlashReadResult(usb(), four));
}

// A driver that reports success with fewer bytes than asked for has not answered: the caller's
// old bytes are never shown as the register, a status of 00 never reads as "ready, not
// protected", and a block is never half old.
TEST_F(IspCommands, AShortAnswerFailsTheReadAndLeavesNoStaleValue) {
  EnterIsp();
  device().Chip().Poke(13, 0x40, 0x12);
  std::uint8_t value = 0xA5;
  device().ShortAnswerNumber(device().RequestCount() + 1);
  EXPECT_FALSE(ReadRegister(usb(), 0x40, &value));
  EXPECT_EQ(value, 0xA5);

  // The instruction, the ready poll, then the fetch of the status, answered short.
  device().ShortAnswerNumber(device().RequestCount() + 3);
  EXPECT_EQ(FlashReadStatus(usb()), kFlashStatusUnknown);
  EXPECT_EQ(log().Entries().back().data, Bytes{});

  Bytes block(64, 0x77);
  device().ShortAnswerNumber(device().RequestCount() + 3);
  EXPECT_FALSE(FlashReadPage(usb(), clock(), 0, block));
  EXPECT_EQ(block, Bytes(64, 0x77));
  EXPECT_EQ(log().Entries().back().data.size(), 63u);

  // The next answers are whole again.
  EXPECT_TRUE(ReadRegister(usb(), 0x40, &value));
  EXPECT_EQ(value, 0x12);
  EXPECT_EQ(FlashReadStatus(usb()), 0xFC);
}

TEST_F(IspCommands, IspSetUpStopsWhenItsBankIsNotSelected) {
  ConnectAudio();
  device().Chip().Poke(0, 0x07, 0x55);
  // The switch works, the bank select fails: the set-up writes must not reach bank 0.
  device().FailRequestNumber(device().RequestCount() + 2);
  EXPECT_FALSE(SetIspMode(usb(), true));
  EXPECT_EQ(log().Size(), 2u);
  EXPECT_EQ(device().Chip().Peek(0, 0x07), 0x55);
}

class SlowChip : public IspFixture {
 protected:
  SlowChip() : IspFixture("ready-after=never") {}
};

TEST_F(SlowChip, StatusAndIdGiveUpAfterTheirPollLimits) {
  EnterIsp();
  EXPECT_EQ(FlashReadStatus(usb()), 0xFF);
  auto polls = [&] {
    std::size_t n = 0;
    for (const auto& e : log().Entries()) n += e.request == 0x83;
    return n;
  };
  EXPECT_EQ(polls(), 10u);
  EXPECT_EQ(log().Size(), 11u);  // no fetch after the polls ran out

  bus().ClearLog();
  FlashId id{1, 2, 3};
  EXPECT_FALSE(FlashReadId(usb(), id));
  EXPECT_EQ(polls(), 100u);
  EXPECT_EQ(id, (FlashId{1, 2, 3}));

  bus().ClearLog();
  const auto before = clock().Slept();
  Bytes out(64, 0x77);
  EXPECT_FALSE(FlashReadPage(usb(), clock(), 0, out));
  EXPECT_EQ(polls(), 100u);
  EXPECT_EQ(clock().Slept() - before, std::chrono::milliseconds(100));  // 1 ms after each
  EXPECT_EQ(out, Bytes(64, 0x77));
}

class ReadyAfterTwoPolls : public IspFixture {
 protected:
  ReadyAfterTwoPolls() : IspFixture("ready-after=2") {}
};

TEST_F(ReadyAfterTwoPolls, OnlyABlockReadPausesAndOnlyAfterANotReadyAnswer) {
  EnterIsp();
  struct Case {
    const char* name;
    std::function<bool()> command;
    std::chrono::milliseconds paused;
  };
  Bytes out(64);
  FlashId id{};
  const Case cases[] = {
      {"block read: 1 ms after each of the two not-ready answers, none before",
       [&] { return FlashReadPage(usb(), clock(), 0, out); }, std::chrono::milliseconds(2)},
      {"identification: no pause", [&] { return FlashReadId(usb(), id); },
       std::chrono::milliseconds(0)},
      {"status: no pause", [&] { return FlashReadStatus(usb()) != 0xFF; },
       std::chrono::milliseconds(0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bus().ClearLog();
    const auto before = clock().Slept();
    EXPECT_TRUE(c.command());
    EXPECT_EQ(clock().Slept() - before, c.paused);
    EXPECT_EQ(log().Size(), 1u + 3u + 1u);  // instruction, three polls, fetch
  }
}

struct ChipCase {
  const char* setup;
  std::size_t pageSize;
  bool words;
};

class EachFlashChip : public IspFixture, public ::testing::WithParamInterface<ChipCase> {
 protected:
  EachFlashChip() : IspFixture(GetParam().setup) {}
};

TEST_P(EachFlashChip, ErasedAndProgrammedInItsOwnWayHoldsTheImage) {
  EnterIsp();
  Unprotect();
  EraseChip();
  EXPECT_EQ(Flash(0, 4096), Bytes(4096, 0xFF));
  const Bytes image = Pattern(1024, 7);
  Program(0x1000, image, GetParam().pageSize, GetParam().words);
  EXPECT_EQ(Flash(0x1000, image.size()), image);
  EXPECT_EQ(Flash(0x1000 + image.size(), 16), Bytes(16, 0xFF));
  // Write enable is gone after every program; programming again cannot set bits.
  EXPECT_EQ(FlashReadStatus(usb()) & 0x43, 0);
  Program(0x1000, Bytes(GetParam().pageSize, 0xFF), GetParam().pageSize, GetParam().words);
  EXPECT_EQ(Flash(0x1000, image.size()), image);
}

INSTANTIATE_TEST_SUITE_P(Chips, EachFlashChip,
                         ::testing::Values(ChipCase{"flash=EF4013", 256, false},
                                           ChipCase{"flash=C22213", 32, false},
                                           ChipCase{"flash=C22013", 256, false},
                                           ChipCase{"flash=BF258D", 256, true}));

TEST_F(IspCommands, PageProgramWrapsInsideItsPage) {
  EnterIsp();
  Unprotect();
  EraseChip();
  FlashWriteEnable(usb());
  FlashProgramPage(usb(), 0x0000F0, Pattern(32, 3));  // 16 bytes at 0xF0, 16 wrap to 0x00
  WaitWhileBusy();
  const Bytes p = Pattern(32, 3);
  EXPECT_EQ(Flash(0xF0, 16), Bytes(p.begin(), p.begin() + 16));
  EXPECT_EQ(Flash(0x00, 16), Bytes(p.begin() + 16, p.end()));
  EXPECT_EQ(Flash(0x100, 16), Bytes(16, 0xFF));
}

class ThirtyTwoBytePageChip : public IspFixture {
 protected:
  ThirtyTwoBytePageChip() : IspFixture("flash=C22213") {}
};

TEST_F(ThirtyTwoBytePageChip, A256BytePageProgramKeepsOnlyTheLast32Bytes) {
  EnterIsp();
  Unprotect();
  EraseChip();
  const Bytes page = Pattern(256, 5);
  FlashWriteEnable(usb());
  FlashProgramPage(usb(), 0, page);
  WaitWhileBusy();
  EXPECT_EQ(Flash(0, 32), Bytes(page.end() - 32, page.end()));
  EXPECT_EQ(Flash(32, 32), Bytes(32, 0xFF));
}

class WordProgramChip : public IspFixture {
 protected:
  WordProgramChip() : IspFixture("flash=BF258D") {}
};

TEST_F(WordProgramChip, PageProgramWritesOneByteAndWriteDisableEndsWordMode) {
  EnterIsp();
  Unprotect();
  EraseChip();
  FlashWriteEnable(usb());
  FlashProgramPage(usb(), 0, Bytes{0x12, 0x34, 0x56});
  WaitWhileBusy();
  EXPECT_EQ(Flash(0, 3), (Bytes{0x12, 0xFF, 0xFF}));

  FlashWriteEnable(usb());
  FlashProgramWords(usb(), 0x10, Bytes{1, 2, 3, 4});
  EXPECT_EQ(FlashReadStatus(usb()) & 0x40, 0x40);  // still in word-program mode
  FlashWriteDisable(usb());
  EXPECT_EQ(FlashReadStatus(usb()) & 0x42, 0);
  // Out of word-program mode a lone continuation word is not an instruction any more.
  FlashCommandWrite(usb(), 0xAD, Bytes{9, 9});
  EXPECT_EQ(Flash(0x10, 6), (Bytes{1, 2, 3, 4, 0xFF, 0xFF}));
}

TEST_F(IspCommands, AProtectedChipIgnoresEraseAndProgram) {
  EnterIsp();
  const Bytes before = Flash(0, 256);
  EraseChip();
  FlashWriteEnable(usb());
  FlashSectorErase(usb(), 0);
  WaitWhileBusy();
  FlashWriteEnable(usb());
  FlashProgramPage(usb(), 0x7FF00, Bytes(16, 0x00));
  WaitWhileBusy();
  EXPECT_EQ(Flash(0, 256), before);
  EXPECT_EQ(Flash(0x7FF00, 16), Bytes(16, 0xFF));
  // Without write enable nothing happens either, even unprotected.
  Unprotect();
  FlashChipErase(usb());
  EXPECT_EQ(Flash(0, 256), before);
}

TEST_F(IspCommands, PartialProtectionCoversTheTopOfTheArray) {
  EnterIsp();
  Unprotect();
  EraseChip();
  FlashWriteEnable(usb());
  FlashWriteStatus(usb(), 0x04);  // lowest level: the top 64 KiB
  WaitWhileBusy();
  Program(0x6FF00, Bytes(256, 0x00), 256, false);
  Program(0x70000, Bytes(256, 0x00), 256, false);
  EXPECT_EQ(Flash(0x6FF00, 256), Bytes(256, 0x00));
  EXPECT_EQ(Flash(0x70000, 256), Bytes(256, 0xFF));
}

class WriteProtectPin : public IspFixture {
 protected:
  WriteProtectPin() : IspFixture("wp=1") {}
};

TEST_F(WriteProtectPin, LocksTheStatusRegisterWhileItsLockBitIsSet) {
  EnterIsp();
  Unprotect();
  EXPECT_EQ(FlashReadStatus(usb()) & 0xFC, 0xFC);
  const Bytes before = Flash(0, 64);
  EraseChip();
  EXPECT_EQ(Flash(0, 64), before);
}

TEST_F(IspCommands, ABusyFlashIgnoresEverythingButStatusReads) {
  EnterIsp();
  Unprotect();
  FlashWriteEnable(usb());
  const auto start = clock().Now();
  FlashChipErase(usb());
  EXPECT_EQ(FlashReadStatus(usb()) & kFlashStatusBusy, kFlashStatusBusy);
  FlashWriteEnable(usb());
  FlashProgramPage(usb(), 0, Bytes(4, 0x00));
  FlashId id{};
  FlashReadId(usb(), id);
  EXPECT_EQ(id, (FlashId{0xFF, 0xFF, 0xFF}));
  WaitWhileBusy();
  EXPECT_EQ(Flash(0, 4), Bytes(4, 0xFF));
  // The chip erase took its datasheet time on the virtual clock.
  EXPECT_GE(clock().Now() - start, std::chrono::milliseconds(800));
}

class StuckBusy : public IspFixture {
 protected:
  StuckBusy() : IspFixture("stuck-busy=1") {}
};

TEST_F(StuckBusy, NeverClearsTheBusyBit) {
  EnterIsp();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(FlashReadStatus(usb()) & kFlashStatusBusy, kFlashStatusBusy);
    clock().Sleep(1000);
  }
}

class FlippedReads : public IspFixture {
 protected:
  FlippedReads() : IspFixture("flip-reads=3") {}
};

TEST_F(FlippedReads, EveryThirdReadBlockHasOneBitFlipped) {
  EnterIsp();
  const Bytes truth = Flash(0, 64);
  std::vector<int> differing;
  for (int i = 1; i <= 6; ++i) {
    Bytes out(64);
    ASSERT_TRUE(FlashReadPage(usb(), clock(), 0, out));
    int bits = 0;
    for (std::size_t j = 0; j < 64; ++j) bits += std::popcount(unsigned(out[j] ^ truth[j]));
    differing.push_back(bits);
  }
  EXPECT_EQ(differing, (std::vector<int>{0, 0, 1, 0, 0, 1}));
}

TEST(FlashFile, LoadsTheContentsAndSavesThemWhenIspModeEnds) {
  const auto path = std::filesystem::temp_directory_path() / "qv-flash-file-test.bin";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write("\x01\x02\x03", 3);
  }
  {
    auto setup = sim::ParseSimSetup("flash-file=" + path.string());
    ASSERT_TRUE(setup.setup) << setup.error;
    sim::Simulation sim(*setup.setup);
    ASSERT_EQ(sim.FileError(), "");
    QuorvexUsb usb(sim.Bus(), sim.Bus());
    usb.SetUseAudioDriver(1);
    ASSERT_TRUE(usb.SetMatchId("vid_e5d3&pid_7a01"));
    usb.FindDevice();
    ASSERT_TRUE(usb.Open());
    ASSERT_TRUE(SetIspMode(usb, true));
    Bytes out(3);
    ASSERT_TRUE(FlashReadPage(usb, sim.Clock(), 0, out));
    EXPECT_EQ(out, (Bytes{1, 2, 3}));
    FlashWriteEnable(usb);
    FlashWriteStatus(usb, 0);
    sim.Clock().Sleep(100);
    FlashWriteEnable(usb);
    FlashProgramPage(usb, 0, Bytes{0x00});
    ASSERT_TRUE(SetIspMode(usb, false));
    std::ifstream in(path, std::ios::binary);
    const Bytes saved((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(saved.size(), 0x80000u);
    EXPECT_EQ(saved[0], 0x00);
    EXPECT_EQ(saved[1], 0x02);
    EXPECT_EQ(saved[3], 0x46);  // the rest of the older firmware behind the loaded bytes
  }
  const auto tooBig = sim::ParseSimSetup("flash=EF4013;flash-file=" + path.string());
  EXPECT_TRUE(tooBig.setup);
  std::filesystem::resize_file(path, 0x80001);
  const auto refused = sim::ParseSimSetup("flash-file=" + path.string());
  EXPECT_FALSE(refused.setup);
  EXPECT_NE(refused.error.find("more than the flash"), std::string::npos);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace qv
