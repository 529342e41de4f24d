#include <gtest/gtest.h>

#include "chip/Registers.h"
#include "tests/support/SimFixture.h"

namespace qv::sim {
namespace {

using namespace std::chrono_literals;

class MediaKeys : public test::SimFixture {
 protected:
  void SetUp() override {
    ConnectAudio();
    ASSERT_TRUE(SelectRegisterBank(usb(), 0));
  }

  // The key command as the Information page sends it; the status read after each 10 ms pause
  // until the completion code comes. Returns the number of reads.
  int PressKey(std::uint8_t code) {
    WriteRegister(usb(), 0x91, code);
    WriteRegister(usb(), 0x90, 0x30);
    for (int read = 1; read <= 10; ++read) {
      clock().Sleep(10);
      std::uint8_t status = 0;
      if (ReadRegister(usb(), 0x90, &status) && status == 0x31) return read;
    }
    return 0;
  }

  FirmwareMailbox& mailbox() { return device().Chip().Mailbox(); }
};

TEST_F(MediaKeys, EachKeyIsLoggedAndAnsweredAtTheFirstPoll) {
  const std::uint8_t keys[] = {0x40, 0x02, 0x10, 0x01, 0x20};
  for (std::uint8_t key : keys) EXPECT_EQ(PressKey(key), 1) << int(key);
  EXPECT_EQ(mailbox().Keys(), (std::vector<std::uint8_t>{0x40, 0x02, 0x10, 0x01, 0x20}));
}

TEST_F(MediaKeys, TheFirmwareAnswersOnlyAfterItsResponseTime) {
  WriteRegister(usb(), 0x91, 0x10);
  WriteRegister(usb(), 0x90, 0x30);
  std::uint8_t status = 0;
  ASSERT_TRUE(ReadRegister(usb(), 0x90, &status));
  EXPECT_EQ(status, 0x30);  // not yet looked at
  EXPECT_TRUE(mailbox().Keys().empty());
  clock().Sleep(2);
  ASSERT_TRUE(ReadRegister(usb(), 0x90, &status));
  EXPECT_EQ(status, 0x31);
}

TEST_F(MediaKeys, AHungFirmwareNeitherActsNorAnswers) {
  mailbox().SetNeverCompletes(true);
  EXPECT_EQ(PressKey(0x10), 0);
  EXPECT_TRUE(mailbox().Keys().empty());
  EXPECT_EQ(device().Chip().Peek(0, 0x90), 0x30);
}

TEST_F(MediaKeys, AnUnknownCommandStaysUnanswered) {
  WriteRegister(usb(), 0x90, 0x55);
  clock().Sleep(100);
  std::uint8_t status = 0;
  ASSERT_TRUE(ReadRegister(usb(), 0x90, &status));
  EXPECT_EQ(status, 0x55);
}

}  // namespace
}  // namespace qv::sim
