#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/Catalogue.h"
#include "sim/RegisterBank.h"

namespace qv::sim {

// What the firmware keeps and reports, as the textual setup states it.
struct MailboxSetup {
  // The stored ids as their four characters; unset: the ids the device enumerates with.
  std::optional<std::array<char, 4>> vendorId, productId;
  // Manufacturer, model and serial number. Without `serialGiven` each device keeps a serial
  // number of its own (the bus's), so that devices of one setup can be told apart.
  std::array<std::string, 3> strings{"Quorvex-inc", "Quorvex-inc UAC2 22", ""};
  bool serialGiven = false;
  std::array<std::uint8_t, 4> settings{0xA1, 0x00, 0x00, 0x00};
  bool eeprom = true;                                    // byte 3 bit 7 of the settings record
  std::array<std::uint8_t, 3> status{0x01, 0x00, 0x01};  // registers 0xA4, 0xA5, 0xA6
  std::array<std::uint8_t, 2> version{0x01, 0x00};       // registers 0xAE, 0xAF
  bool neverCompletes = false;                           // a hung firmware
};

// The firmware's side of the mailbox in bank 0: parameter exchanges (command 0x10, answered
// 0xEE) over the stored ids, strings and settings record, media-key commands (0x30, answered
// 0x31), and the playback status and version registers, which the host can read but not
// write.
//
// The firmware gets round to a command a little after the host wrote it, and only then
// stores, fetches and answers. What it does not understand (another command, an item it does
// not keep, a chunk past a string's block) it leaves in the command register unanswered, so
// the host times out instead of believing a parameter was stored.
class FirmwareMailbox {
 public:
  static constexpr std::size_t kStringBlockSize = 32;  // a length byte and up to 31 characters
  static constexpr std::size_t kMaxStringLength = kStringBlockSize - 1;
  static constexpr std::chrono::microseconds kResponseTime{2000};

  explicit FirmwareMailbox(Clock& clock) : clock_(clock) {}

  // Loads the stored parameters and the status and version registers into bank 0.
  void Configure(const MailboxSetup& setup, const Identity& identity, RegisterBank& bank);

  std::uint8_t Read(RegisterBank& bank, std::uint8_t address);
  void Write(RegisterBank& bank, std::uint8_t address, std::uint8_t value);

  const std::array<std::uint8_t, 4>& VendorIdText() const { return vendorId_; }
  const std::array<std::uint8_t, 4>& ProductIdText() const { return productId_; }
  // Block i of the three strings (0: manufacturer, 1: model, 2: serial number).
  const std::array<std::uint8_t, kStringBlockSize>& StringBlock(std::size_t i) const {
    return strings_[i];
  }
  // The text a block holds: its length byte's worth of characters, at most 31.
  std::string String(std::size_t i) const;
  std::array<std::uint8_t, 4> Settings() const;
  bool EepromPresent() const { return eeprom_; }
  // Media-key codes in the order the firmware acted on them.
  const std::vector<std::uint8_t>& Keys() const { return keys_; }
  void SetNeverCompletes(bool never) { neverCompletes_ = never; }
  void SetEepromPresent(bool present) { eeprom_ = present; }

 private:
  // Runs the pending command once its time has come.
  void CatchUp(RegisterBank& bank);
  // Carries out one command; false when the firmware does not understand it.
  bool Execute(RegisterBank& bank, std::uint8_t command);
  bool Parameter(RegisterBank& bank);

  Clock& clock_;
  std::array<std::uint8_t, 4> vendorId_{};
  std::array<std::uint8_t, 4> productId_{};
  std::array<std::array<std::uint8_t, kStringBlockSize>, 3> strings_{};
  std::array<std::uint8_t, 4> settings_{};
  bool eeprom_ = true;
  bool neverCompletes_ = false;
  std::vector<std::uint8_t> keys_;
  std::optional<std::chrono::microseconds> due_;  // when the firmware looks at the command
};

}  // namespace qv::sim
