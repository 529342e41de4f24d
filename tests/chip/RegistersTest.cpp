#include "chip/Registers.h"

#include <gtest/gtest.h>

#include "tests/support/SimFixture.h"

namespace qv {
namespace {

class Registers : public test::SimFixture {};

TEST_F(Registers, WritesReachTheSelectedBankOnly) {
  ConnectAudio();
  ASSERT_TRUE(SelectRegisterBank(usb(), 13));
  ASSERT_TRUE(WriteRegister(usb(), 0x40, 0x0D3F));  // only the low byte travels
  ASSERT_TRUE(SelectRegisterBank(usb(), 0));
  ASSERT_TRUE(WriteRegister(usb(), 0x40, 0x55));
  EXPECT_EQ(device().Chip().Peek(13, 0x40), 0x3F);
  EXPECT_EQ(device().Chip().Peek(0, 0x40), 0x55);

  std::uint8_t value = 0;
  ASSERT_TRUE(SelectRegisterBank(usb(), 13));
  ASSERT_TRUE(ReadRegister(usb(), 0x40, &value));
  EXPECT_EQ(value, 0x3F);

  // Each access is one request naming its own address, one byte of data.
  ASSERT_EQ(log().Size(), 6u);
  EXPECT_EQ(log()[1].request, 0x90);
  EXPECT_EQ(log()[1].index, 0x40);
  EXPECT_EQ(log()[1].data, std::vector<std::uint8_t>{0x3F});
  EXPECT_EQ(log()[5].request, 0x91);
  EXPECT_TRUE(log()[5].deviceToHost);
}

TEST_F(Registers, AFailedReadLeavesTheCallersByte) {
  std::uint8_t value = 0xA5;
  EXPECT_FALSE(ReadRegister(usb(), 0xAE, &value));  // closed connection
  EXPECT_EQ(value, 0xA5);

  ConnectAudio();
  device().Chip().Poke(0, 0xAE, 0x12);
  device().FailRequestNumber(device().RequestCount() + 1);
  EXPECT_FALSE(ReadRegister(usb(), 0xAE, &value));  // the driver refuses the request
  EXPECT_EQ(value, 0xA5);
  EXPECT_TRUE(ReadRegister(usb(), 0xAE, &value));
  EXPECT_EQ(value, 0x12);
}

TEST_F(Registers, ADeviceThatLeavesMidwayFailsEveryLaterRequest) {
  ConnectAudio();
  device().GoneAfterRequests(device().RequestCount() + 2);
  EXPECT_TRUE(WriteRegister(usb(), 0x91, 1));
  EXPECT_TRUE(WriteRegister(usb(), 0x92, 2));
  EXPECT_FALSE(WriteRegister(usb(), 0x93, 3));
  EXPECT_FALSE(usb().IsDevicePresent());
  EXPECT_FALSE(usb().Open());
}

}  // namespace
}  // namespace qv
