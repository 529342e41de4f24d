#include "chip/I2cMaster.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/support/RegisterTrace.h"
#include "tests/support/SimFixture.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Steps;

// The bus steps as register requests, for an engine that reports done at the first poll.
const std::string kStart = "W10=C0";
const std::string kStop = "W10=A0";
std::string Send(std::uint8_t byte) {
  std::string steps = "W14=01 W12=";
  steps += FormatHex(byte, 2);
  steps += " R10 R10";
  return steps;
}
std::string Receive(bool last) {
  return last ? "W10=90 W14=03 R10 R13" : "W10=80 W14=03 R10 R13";
}
std::string Repeat(const std::string& steps, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text = Steps({text, steps});
  return text;
}

// A transfer as the I2C pages call it; `buffer` receives what a read transfer reads.
using Transfer = std::function<bool(QuorvexUsb&, std::span<std::uint8_t> buffer)>;

class I2cMaster : public test::SimFixture {
 protected:
  void SetUp() override {
    ConnectAudio();
    // The part at 0x20 holds 0x40 + its register number, so reads show where they came from.
    slave_ = device().Chip().I2c().Slave(0x20);
    ASSERT_NE(slave_, nullptr);
    for (int r = 0; r < 256; ++r)
      slave_->SetRegister(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(0x40 + r));
    ASSERT_TRUE(PrepareI2CMaster(usb()));
    bus().ClearLog();
  }

  sim::RegisterSlave* slave_ = nullptr;
};

TEST_F(I2cMaster, SetUpSelectsTheEngineBankAndWritesItsSetUpRegister) {
  bus().ClearLog();
  EXPECT_TRUE(PrepareI2CMaster(usb()));
  EXPECT_EQ(test::Trace(log()), "W00=0E W11=04");
}

TEST_F(I2cMaster, TransfersToAPresentSlaveMakeTheExactBusSteps) {
  struct Case {
    const char* name;
    Transfer transfer;
    std::string steps;
    Bytes read;                                  // what lands in the caller's buffer
    std::vector<std::pair<int, int>> registers;  // slave register, value afterwards
  };
  const Case cases[] = {
      {"register write",
       [](QuorvexUsb& usb, auto) {
         return I2CWriteRegisters(usb, 0x20, 0x05, Bytes{0x11, 0x22});
       },
       Steps({kStart, Send(0x20), Send(0x05), Send(0x11), Send(0x22), kStop}),
       {},
       {{0x05, 0x11}, {0x06, 0x22}, {0x07, 0x47}}},
      {"one-byte register read: last-byte control, 0x20 then 0x21",
       [](QuorvexUsb& usb, auto buffer) {
         return I2CReadRegisters(usb, 0x20, 0x05, buffer.first(1));
       },
       Steps({kStart, Send(0x20), Send(0x05), kStart, Send(0x21), Receive(true), kStop}),
       {0x45},
       {}},
      {"three-byte register read: 0x80, 0x80, 0x90",
       [](QuorvexUsb& usb, auto buffer) {
         return I2CReadRegisters(usb, 0x20, 0x10, buffer.first(3));
       },
       Steps({kStart, Send(0x20), Send(0x10), kStart, Send(0x21), Receive(false), Receive(false),
              Receive(true), kStop}),
       {0x50, 0x51, 0x52},
       {}},
      {"raw write without command or data",
       [](QuorvexUsb& usb, auto) { return I2CWrite(usb, 0x20, {}, {}); },
       Steps({kStart, Send(0x20), kStop}),
       {},
       {}},
      {"raw write: command sets the pointer, data follows",
       [](QuorvexUsb& usb, auto) {
         return I2CWrite(usb, 0x20, Bytes{0x30}, Bytes{0xAB, 0xCD});
       },
       Steps({kStart, Send(0x20), Send(0x30), Send(0xAB), Send(0xCD), kStop}),
       {},
       {{0x30, 0xAB}, {0x31, 0xCD}}},
      {"raw read with a two-byte command",
       [](QuorvexUsb& usb, auto buffer) {
         return I2CRead(usb, 0x20, Bytes{0x07, 0x99}, buffer.first(2));
       },
       Steps({kStart, Send(0x20), Send(0x07), Send(0x99), kStart, Send(0x21), Receive(false),
              Receive(true), kStop}),
       {0x48, 0x49},  // the second command byte was stored at 0x07
       {{0x07, 0x99}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int r = 0; r < 256; ++r)
      slave_->SetRegister(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(0x40 + r));
    bus().ClearLog();
    Bytes buffer(8, 0xEE);
    EXPECT_TRUE(c.transfer(usb(), buffer));
    EXPECT_EQ(test::Trace(log()), c.steps);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(c.read.size())), c.read);
    for (auto [reg, value] : c.registers)
      EXPECT_EQ(slave_->Register(static_cast<std::uint8_t>(reg)), value) << "register " << reg;
  }
}

TEST_F(I2cMaster, AOneByteRegisterReadTakesNineteenRequests) {
  std::uint8_t byte = 0;
  ASSERT_TRUE(I2CReadRegisters(usb(), 0x20, 0x00, {&byte, 1}));
  EXPECT_EQ(log().Size(), 19u);
  EXPECT_EQ(byte, 0x40);
}

TEST_F(I2cMaster, AnAbsentSlaveGetsTenAddressAttemptsOneStopAndNothingElse) {
  struct Case {
    const char* name;
    Transfer transfer;
  };
  const Case cases[] = {
      {"register write",
       [](QuorvexUsb& usb, auto) {
         return I2CWriteRegisters(usb, 0x40, 0x05, Bytes{1, 2});
       }},
      {"register read",
       [](QuorvexUsb& usb, auto buffer) { return I2CReadRegisters(usb, 0x40, 0x05, buffer); }},
      {"raw write", [](QuorvexUsb& usb, auto) { return I2CWrite(usb, 0x40, Bytes{1}, Bytes{2}); }},
      {"raw read",
       [](QuorvexUsb& usb, auto buffer) { return I2CRead(usb, 0x40, Bytes{1}, buffer); }},
  };
  const std::string expected = Steps({Repeat(Steps({kStart, Send(0x40)}), 10), kStop});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bus().ClearLog();
    Bytes buffer(3, 0xEE);
    EXPECT_FALSE(c.transfer(usb(), buffer));
    EXPECT_EQ(test::Trace(log()), expected);
    EXPECT_EQ(buffer, Bytes(3, 0xEE));
  }
}

TEST_F(I2cMaster, SlavesAnswerAtTheAddressesTheSetupNames) {
  device().Chip().I2c().Configure({.slaves = {0xA0}});
  std::uint8_t byte = 0;
  EXPECT_TRUE(I2CWriteRegisters(usb(), 0xA0, 0x02, Bytes{0x5A}));
  EXPECT_TRUE(I2CReadRegisters(usb(), 0xA0, 0x02, {&byte, 1}));
  EXPECT_EQ(byte, 0x5A);
  EXPECT_FALSE(I2CWriteRegisters(usb(), 0x20, 0x02, Bytes{0x5A}));
}

TEST_F(I2cMaster, WhatIsWrittenReadsBackAcrossThePointerWrap) {
  const Bytes data{0xDE, 0xAD, 0xBE, 0xEF};
  ASSERT_TRUE(I2CWriteRegisters(usb(), 0x20, 0xFE, data));
  Bytes back(4);
  ASSERT_TRUE(I2CReadRegisters(usb(), 0x20, 0xFE, back));
  EXPECT_EQ(back, data);
  EXPECT_EQ(slave_->Register(0x00), 0xBE);
  EXPECT_EQ(slave_->Register(0x01), 0xEF);
}

TEST_F(I2cMaster, AnUnacknowledgedDataByteDoesNotStopTheWrite) {
  slave_->SetWriteProtected(true);
  EXPECT_TRUE(I2CWriteRegisters(usb(), 0x20, 0x05, Bytes{0x11, 0x22}));
  // Every byte still goes out; the status after each data byte says "not acknowledged".
  EXPECT_EQ(test::Trace(log()),
            Steps({kStart, Send(0x20), Send(0x05), Send(0x11), Send(0x22), kStop}));
  EXPECT_EQ(log()[log().Size() - 2].data, Bytes{0x09});
  EXPECT_EQ(slave_->Register(0x05), 0x45);
}

TEST_F(I2cMaster, ASlowEngineIsPolledTwentyTimesAtMostPerByte) {
  struct Case {
    std::uint32_t busyPolls;
    bool stuck;
    bool result;
    std::size_t requests;
  };
  // An address-only write: start, one byte (two writes, polls, status check), stop.
  const Case cases[] = {
      {0, false, true, 1 + 2 + 1 + 1 + 1},
      {5, false, true, 1 + 2 + 6 + 1 + 1},
      {19, false, true, 1 + 2 + 20 + 1 + 1},
      // Polling runs out, the transfer goes on and the status check finds the byte done.
      {40, false, true, 1 + 2 + 20 + 1 + 1},
      // An engine that never finishes never reports an acknowledge: ten attempts, then stop.
      {0, true, false, 10 * (1 + 2 + 20 + 1) + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "busy polls " << c.busyPolls << ", stuck " << c.stuck);
    device().Chip().I2c().SetBusyPolls(c.busyPolls);
    device().Chip().I2c().SetStuck(c.stuck);
    bus().ClearLog();
    EXPECT_EQ(I2CWrite(usb(), 0x20, {}, {}), c.result);
    EXPECT_EQ(log().Size(), c.requests);
  }
}

TEST_F(I2cMaster, AFailedStatusReadCountsAsNotAcknowledged) {
  // Start, transfer command, data, done poll, then the acknowledge check fails.
  device().FailRequestNumber(device().RequestCount() + 5);
  EXPECT_TRUE(I2CWrite(usb(), 0x20, {}, {}));
  EXPECT_EQ(test::Trace(log()),
            Steps({kStart, "W14=01 W12=20 R10 fail", kStart, Send(0x20), kStop}));
}

TEST_F(I2cMaster, AFailedRequestIsNeverTakenForTheSlavesAnswer) {
  struct Case {
    const char* name;
    std::uint8_t slave;
    int failing;  // which request of the transfer fails, from 1
    bool read;
    std::string steps;
  };
  const Case cases[] = {
      // The engine still shows the previous byte's done and acknowledge bits: the absent slave
      // at 0x40 would look present.
      {"transmit data of the address", 0x40, 3, false, Steps({kStart, "W14=01 fail", kStop})},
      {"transfer command of the address", 0x40, 2, false, Steps({kStart, "fail", kStop})},
      {"a start condition", 0x40, 1, false, Steps({"fail", kStop})},
      {"a data byte: the write does not go on", 0x20, 11, false,
       Steps({kStart, Send(0x20), Send(0x05), "W14=01 fail", kStop})},
      {"a receive: no stale byte in the buffer", 0x20, 20, true,
       Steps({kStart, Send(0x20), Send(0x05), kStart, Send(0x21), Receive(false), "W10=90 fail",
              kStop})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bus().ClearLog();
    device().FailRequestNumber(device().RequestCount() + static_cast<std::uint64_t>(c.failing));
    Bytes buffer(2, 0xEE);
    const bool result = c.read ? I2CReadRegisters(usb(), c.slave, 0x05, buffer)
                               : I2CWriteRegisters(usb(), c.slave, 0x05, Bytes{0x11, 0x22});
    EXPECT_FALSE(result);
    EXPECT_EQ(test::Trace(log()), c.steps);
    EXPECT_EQ(buffer, Bytes(2, 0xEE));
  }
  // Without the engine's bank the set-up value would land in another bank.
  bus().ClearLog();
  device().FailRequestNumber(device().RequestCount() + 1);
  EXPECT_FALSE(PrepareI2CMaster(usb()));
  EXPECT_EQ(test::Trace(log()), "fail");
}

TEST_F(I2cMaster, LengthsBeyondAnEightBitCountAreRefusedUnsent) {
  Bytes big(256, 0x11);
  Bytes small(1, 0x22);
  EXPECT_FALSE(I2CWriteRegisters(usb(), 0x20, 0x00, big));
  EXPECT_FALSE(I2CReadRegisters(usb(), 0x20, 0x00, big));
  EXPECT_FALSE(I2CWrite(usb(), 0x20, big, small));
  EXPECT_FALSE(I2CWrite(usb(), 0x20, small, big));
  EXPECT_FALSE(I2CRead(usb(), 0x20, big, small));
  EXPECT_FALSE(I2CRead(usb(), 0x20, small, big));
  EXPECT_EQ(log().Size(), 0u);
  EXPECT_EQ(big, Bytes(256, 0x11));
  // 255 is still a count.
  EXPECT_TRUE(I2CWriteRegisters(usb(), 0x20, 0x00, std::span(big).first(255)));
}

}  // namespace
}  // namespace qv
