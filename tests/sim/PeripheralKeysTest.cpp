#include <gtest/gtest.h>

#include <string>

#include "chip/Registers.h"
#include "sim/SimSetup.h"
#include "tests/support/SimFixture.h"

namespace qv::sim {
namespace {

TEST(PeripheralSetupText, ReadsEveryMailboxAndI2cKey) {
  const auto result = ParseSimSetup(
      "vid=E6a0;pid=6012;string1=Acme = Audio;string2=;string3=SN-0001;settings=b1e01234;"
      "eeprom=0;status=090003;version=0109;mailbox=never;i2c-slaves=a0,20,ee;i2c-busy-polls=7;"
      "i2c-stuck=1");
  ASSERT_TRUE(result.setup) << result.error;
  const MailboxSetup& m = result.setup->mailbox;
  EXPECT_EQ(m.vendorId, (std::array<char, 4>{'E', '6', 'a', '0'}));  // kept as written
  EXPECT_EQ(m.productId, (std::array<char, 4>{'6', '0', '1', '2'}));
  EXPECT_EQ(m.strings[0], "Acme = Audio");
  EXPECT_EQ(m.strings[1], "");
  EXPECT_EQ(m.strings[2], "SN-0001");
  EXPECT_EQ(m.settings, (std::array<std::uint8_t, 4>{0xB1, 0xE0, 0x12, 0x34}));
  EXPECT_FALSE(m.eeprom);
  EXPECT_EQ(m.status, (std::array<std::uint8_t, 3>{0x09, 0x00, 0x03}));
  EXPECT_EQ(m.version, (std::array<std::uint8_t, 2>{0x01, 0x09}));
  EXPECT_TRUE(m.neverCompletes);
  const I2cSetup& i2c = result.setup->i2c;
  EXPECT_EQ(i2c.slaves, (std::vector<std::uint8_t>{0xA0, 0x20, 0xEE}));
  EXPECT_EQ(i2c.busyPolls, 7u);
  EXPECT_TRUE(i2c.stuck);

  EXPECT_TRUE(ParseSimSetup("i2c-slaves=none").setup->i2c.slaves.empty());
  EXPECT_EQ(ParseSimSetup("").setup->i2c.slaves, std::vector<std::uint8_t>{0x20});
}

TEST(PeripheralSetupText, RefusesBadValuesClearly) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"vid=e6a", "vid needs four hex digits"},
      {"pid=60123", "pid needs four hex digits"},
      {"vid=6g12", "vid needs four hex digits"},
      {"string2="
       "0123456789012345678901234567890123",
       "string2 needs at most 31 characters"},
      {"settings=a10000", "settings needs eight hex digits"},
      {"settings=a10000zz", "settings needs eight hex digits"},
      {"eeprom=yes", "eeprom needs 0 or 1"},
      {"status=0400", "status needs six hex digits"},
      {"version=1.9", "version needs four hex digits"},
      {"mailbox=sometimes", "mailbox needs answers or never"},
      {"i2c-slaves=21", "i2c-slaves needs address bytes as two hex digits with bit 0 clear"},
      {"i2c-slaves=20,", "i2c-slaves needs address bytes"},
      {"i2c-slaves=0x20", "i2c-slaves needs address bytes"},
      {"i2c-busy-polls=256", "i2c-busy-polls needs a number of status reads from 0 to 255"},
      {"i2c-stuck=2", "i2c-stuck needs 0 or 1"},
  };
  for (const auto& c : cases) {
    const auto result = ParseSimSetup(c.text);
    EXPECT_FALSE(result.setup) << c.text;
    EXPECT_NE(result.error.find(c.error), std::string::npos) << c.text << ": " << result.error;
  }
}

class SetUpFirmware : public test::SimFixture {
 protected:
  SetUpFirmware()
      : SimFixture(
            "string1=Acme;settings=b1e01234;eeprom=1;status=090003;version=0109;"
            "i2c-slaves=a0") {}
};

TEST_F(SetUpFirmware, TheDeviceShowsWhatTheSetupSays) {
  ConnectAudio();
  FirmwareMailbox& mailbox = device().Chip().Mailbox();
  EXPECT_EQ(mailbox.String(0), "Acme");
  EXPECT_EQ(mailbox.String(1), "Quorvex-inc UAC2 22");  // the default
  EXPECT_EQ(mailbox.Settings(), (std::array<std::uint8_t, 4>{0xB1, 0xE0, 0x12, 0xB4}));
  // Ids not named by the setup are the ones the device enumerates with, as lower-case text.
  EXPECT_EQ(mailbox.VendorIdText(), (std::array<std::uint8_t, 4>{'e', '5', 'd', '3'}));
  EXPECT_EQ(mailbox.ProductIdText(), (std::array<std::uint8_t, 4>{'7', 'a', '0', '1'}));
  EXPECT_NE(device().Chip().I2c().Slave(0xA0), nullptr);
  EXPECT_EQ(device().Chip().I2c().Slave(0x20), nullptr);

  // Status and version are plain registers of bank 0.
  const std::pair<std::uint16_t, std::uint8_t> registers[] = {
      {0xA4, 0x09}, {0xA5, 0x00}, {0xA6, 0x03}, {0xAE, 0x01}, {0xAF, 0x09}};
  ASSERT_TRUE(SelectRegisterBank(usb(), 0));
  for (auto [address, expected] : registers) {
    std::uint8_t value = 0xEE;
    EXPECT_TRUE(ReadRegister(usb(), address, &value));
    EXPECT_EQ(value, expected) << "register " << address;
  }
}

}  // namespace
}  // namespace qv::sim
