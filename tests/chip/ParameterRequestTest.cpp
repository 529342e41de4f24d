#include "chip/ParameterRequest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/RegisterTrace.h"
#include "tests/support/SimFixture.h"

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

class ParameterExchange : public test::SimFixture {
 protected:
  void SetUp() override { ConnectAudio(); }

  sim::FirmwareMailbox& mailbox() { return device().Chip().Mailbox(); }

  bool Request(unsigned item, unsigned chunk, Bytes& data) {
    return ParameterRequest(usb(), clock(), parameter::kCommand, item, chunk,
                            static_cast<std::uint8_t>(data.size()), data.data());
  }

  // Sends a string as the Parameter page does: a length byte and the characters, in chunks of
  // eight. Returns the size of each chunk sent.
  std::vector<std::size_t> SendString(unsigned item, const std::string& text) {
    Bytes record(text.size() + 1, static_cast<std::uint8_t>(text.size()));
    std::copy(text.begin(), text.end(), record.begin() + 1);
    std::vector<std::size_t> sizes;
    for (std::size_t k = 0; k < 4 && record.size() > 8 * k; ++k) {
      Bytes chunk(record.begin() + static_cast<long>(8 * k),
                  record.begin() + static_cast<long>(std::min(record.size(), 8 * (k + 1))));
      EXPECT_TRUE(Request(item, static_cast<unsigned>(k), chunk));
      sizes.push_back(chunk.size());
    }
    return sizes;
  }
};

TEST_F(ParameterExchange, RequestsComeInTheMailboxOrder) {
  struct Case {
    const char* name;
    unsigned item;
    Bytes data;
    std::string steps;
    Bytes after;  // the caller's bytes afterwards
  };
  const Case cases[] = {
      {"settings write: data, item, chunk, command, wait, clear", parameter::kSettingsWrite,
       Bytes{0xA1, 0x02, 0x03, 0x04},
       "W00=00 W93=A1 W94=02 W95=03 W96=04 W91=20 W92=00 W90=10 R90 W90=00",
       Bytes{0xA1, 0x02, 0x03, 0x04}},
      {"settings read: item, chunk, command, wait, data; no clear", parameter::kSettingsRead,
       Bytes{0, 0, 0, 0}, "W00=00 W91=21 W92=00 W90=10 R90 R93 R94 R95 R96",
       Bytes{0xA1, 0x02, 0x03, 0x84}},  // what was just written, with the EEPROM report
      {"empty write", parameter::kVendorId, Bytes{}, "W00=00 W91=08 W92=00 W90=10 R90 W90=00",
       Bytes{}},
      {"empty read", parameter::kSettingsRead, Bytes{}, "W00=00 W91=21 W92=00 W90=10 R90", Bytes{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bus().ClearLog();
    Bytes data = c.data;
    EXPECT_TRUE(Request(c.item, 0, data));
    EXPECT_EQ(test::Trace(log()), c.steps);
    EXPECT_EQ(data, c.after);
    EXPECT_FALSE(usb().IsOpen());  // the exchange closes what it opened
  }
  // A read leaves the completion code for the firmware to replace; a write clears it.
  EXPECT_EQ(device().Chip().Peek(0, 0x90), 0xEE);
}

TEST_F(ParameterExchange, TheResultTellsWhetherTheFirmwareCompleted) {
  struct Case {
    const char* name;
    bool firmwareHangs;
    unsigned item;
    bool result;
    std::chrono::milliseconds paused;
  };
  const Case cases[] = {
      {"answered at once: one pause", false, parameter::kSettingsWrite, true, 10ms},
      {"firmware never answers: twenty pauses", true, parameter::kSettingsWrite, false, 200ms},
      {"item the firmware does not keep", false, 0x30, false, 200ms},
      {"read the firmware never answers", true, parameter::kSettingsRead, false, 200ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mailbox().SetNeverCompletes(c.firmwareHangs);
    bus().ClearLog();
    const auto before = clock().Slept();
    Bytes data{1, 2, 3, 4};
    EXPECT_EQ(Request(c.item, 0, data), c.result);
    EXPECT_EQ(clock().Slept() - before, c.paused);
    // A write clears the command either way; a read fetches the data only once completed, so
    // an unanswered read leaves the caller's bytes and never shows an earlier exchange's.
    const bool read = (c.item & 1) != 0;
    const std::size_t waits = static_cast<std::size_t>(c.paused / 10ms);
    EXPECT_EQ(log().Size(), (read ? 4u : 8u) + waits + (read ? (c.result ? 4u : 0u) : 1u));
    if (read && !c.result) {
      EXPECT_EQ(data, (Bytes{1, 2, 3, 4}));
    }
  }
}

TEST_F(ParameterExchange, AFailedRequestEndsTheExchangeThere) {
  struct Case {
    const char* name;
    unsigned item;
    int failing;  // which request of the exchange fails, from 1
    std::string steps;
  };
  const Case cases[] = {
      // Without bank 0 the mailbox writes would reach another bank's registers.
      {"bank select", parameter::kVendorId, 1, "fail"},
      {"a data register", parameter::kVendorId, 2, "W00=00 fail"},
      {"the command: nothing to wait for", parameter::kVendorId, 8,
       "W00=00 W93=36 W94=30 W95=31 W96=32 W91=08 W92=00 fail"},
      {"a data read: no half-fresh record", parameter::kSettingsRead, 7,
       "W00=00 W91=21 W92=00 W90=10 R90 R93 fail"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bus().ClearLog();
    device().FailRequestNumber(device().RequestCount() + c.failing);
    Bytes data{0x36, 0x30, 0x31, 0x32};
    EXPECT_FALSE(Request(c.item, 0, data));
    EXPECT_EQ(test::Trace(log()), c.steps);
    EXPECT_EQ(data, (Bytes{0x36, 0x30, 0x31, 0x32}));
    EXPECT_FALSE(usb().IsOpen());
  }
}

TEST_F(ParameterExchange, WithoutADeviceNothingIsReportedAsDone) {
  bus().Unplug(device());
  Bytes data{0x11, 0x22, 0x33, 0x44};
  EXPECT_FALSE(Request(parameter::kSettingsRead, 0, data));
  EXPECT_EQ(data, (Bytes{0x11, 0x22, 0x33, 0x44}));  // the caller's bytes stay
  EXPECT_EQ(clock().Slept(), 0ms);                   // nothing opened, nothing to wait for
}

TEST_F(ParameterExchange, MoreThanEightBytesAreRefusedUnsent) {
  Bytes nine(9, 0x55);
  EXPECT_FALSE(Request(parameter::kString1, 0, nine));
  EXPECT_EQ(log().Size(), 0u);
  EXPECT_TRUE(usb().IsOpen());  // not even reopened
  Bytes eight(8, 0x55);
  EXPECT_TRUE(Request(parameter::kString1, 0, eight));
}

TEST_F(ParameterExchange, IdsAreStoredAsTheirFourCharacters) {
  Bytes vid{'6', '0', '1', '2'};
  Bytes pid{'F', '8', '0', '0'};
  EXPECT_TRUE(Request(parameter::kVendorId, 0, vid));
  EXPECT_TRUE(Request(parameter::kProductId, 0, pid));
  EXPECT_EQ(mailbox().VendorIdText(), (std::array<std::uint8_t, 4>{0x36, 0x30, 0x31, 0x32}));
  EXPECT_EQ(mailbox().ProductIdText(), (std::array<std::uint8_t, 4>{0x46, 0x38, 0x30, 0x30}));
}

TEST_F(ParameterExchange, StringsTravelInChunksOfEightAndAreStoredWhole) {
  struct Case {
    std::string text;
    std::vector<std::size_t> chunks;
  };
  const Case cases[] = {
      {"", {1}},
      {"Quorvex", {8}},                      // 7 characters: one full chunk
      {"Quorvex-", {8, 1}},                  // 8 characters: the length byte pushes one over
      {"Quorvex-inc", {8, 4}},               // 0x0B and "Quorvex", then "-inc"
      {std::string(31, 'S'), {8, 8, 8, 8}},  // the longest text
  };
  const unsigned items[] = {parameter::kString1, parameter::kString2, parameter::kString3};
  for (std::size_t i = 0; i < 3; ++i) {
    for (const Case& c : cases) {
      SCOPED_TRACE("string " + std::to_string(i + 1) + " '" + c.text + "'");
      EXPECT_EQ(SendString(items[i], c.text), c.chunks);
      // A shorter text over a longer one: the length byte decides what counts.
      EXPECT_EQ(mailbox().String(i), c.text);
      EXPECT_EQ(mailbox().StringBlock(i)[0], c.text.size());
    }
  }
}

TEST_F(ParameterExchange, SettingsReadBackWithTheDevicesEepromReport) {
  struct Case {
    bool eeprom;
    Bytes sent;
    Bytes readBack;
  };
  const Case cases[] = {
      {true, {0xB1, 0xE0, 0x12, 0x34}, {0xB1, 0xE0, 0x12, 0xB4}},
      {false, {0xB1, 0xE0, 0x12, 0xB4}, {0xB1, 0xE0, 0x12, 0x34}},
      {false, {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "eeprom " << c.eeprom);
    mailbox().SetEepromPresent(c.eeprom);
    Bytes sent = c.sent;
    EXPECT_TRUE(Request(parameter::kSettingsWrite, 0, sent));
    Bytes back(4, 0xEE);
    EXPECT_TRUE(Request(parameter::kSettingsRead, 0, back));
    EXPECT_EQ(back, c.readBack);
  }
}

}  // namespace
}  // namespace qv
