#include "sim/FirmwareMailbox.h"

#include <algorithm>

#include "util/Text.h"

namespace qv::sim {
namespace {

// Bank 0 registers.
constexpr std::uint8_t kCommand = 0x90;
constexpr std::uint8_t kArgument1 = 0x91;  // parameter item or key code
constexpr std::uint8_t kArgument2 = 0x92;  // chunk index
constexpr std::uint8_t kData0 = 0x93;
constexpr std::size_t kDataCount = 8;
constexpr std::uint8_t kStatus0 = 0xA4;
constexpr std::uint8_t kVersion0 = 0xAE;

// Commands and their completion codes.
constexpr std::uint8_t kIdle = 0x00;
constexpr std::uint8_t kParameterCommand = 0x10;
constexpr std::uint8_t kParameterDone = 0xEE;
constexpr std::uint8_t kKeyCommand = 0x30;
constexpr std::uint8_t kKeyDone = 0x31;

// Parameter items; bit 0 set asks the firmware for data.
constexpr std::uint8_t kVendorIdItem = 0x08;
constexpr std::uint8_t kProductIdItem = 0x0A;
constexpr std::array<std::uint8_t, 3> kStringItems{0x10, 0x14, 0x18};
constexpr std::uint8_t kSettingsWrite = 0x20;
constexpr std::uint8_t kSettingsRead = 0x21;

constexpr std::uint8_t kEepromBit = 0x80;  // settings byte 3

std::array<std::uint8_t, 4> IdText(const std::optional<std::array<char, 4>>& given,
                                   std::uint16_t enumerated) {
  // Devices keep their ids as the lower-case text that also names them on the bus.
  std::string chars = LowerAscii(FormatHex(enumerated, 4));
  if (given) chars.assign(given->begin(), given->end());
  std::array<std::uint8_t, 4> text{};
  for (std::size_t i = 0; i < text.size() && i < chars.size(); ++i)
    text[i] = static_cast<std::uint8_t>(chars[i]);
  return text;
}

}  // namespace

void FirmwareMailbox::Configure(const MailboxSetup& setup, const Identity& identity,
                                RegisterBank& bank) {
  vendorId_ = IdText(setup.vendorId, identity.vendorId);
  productId_ = IdText(setup.productId, identity.productId);
  for (std::size_t i = 0; i < strings_.size(); ++i) {
    const std::string& text = setup.strings[i];
    const std::size_t length = std::min(text.size(), kMaxStringLength);
    strings_[i].fill(0);
    strings_[i][0] = static_cast<std::uint8_t>(length);
    std::copy_n(text.begin(), length, strings_[i].begin() + 1);
  }
  settings_ = setup.settings;
  eeprom_ = setup.eeprom;
  neverCompletes_ = setup.neverCompletes;
  std::copy(setup.status.begin(), setup.status.end(), bank.begin() + kStatus0);
  std::copy(setup.version.begin(), setup.version.end(), bank.begin() + kVersion0);
}

std::string FirmwareMailbox::String(std::size_t i) const {
  const auto& block = strings_[i];
  const std::size_t length = std::min<std::size_t>(block[0], kMaxStringLength);
  return std::string(block.begin() + 1, block.begin() + 1 + length);
}

std::array<std::uint8_t, 4> FirmwareMailbox::Settings() const {
  // The EEPROM bit is the firmware's report of its hardware, not something the host can set.
  auto record = settings_;
  record[3] = static_cast<std::uint8_t>((record[3] & ~kEepromBit) | (eeprom_ ? kEepromBit : 0));
  return record;
}

void FirmwareMailbox::CatchUp(RegisterBank& bank) {
  if (!due_ || clock_.Now() < *due_) return;
  due_.reset();
  const std::uint8_t command = bank[kCommand];
  if (Execute(bank, command)) bank[kCommand] = command == kKeyCommand ? kKeyDone : kParameterDone;
}

std::uint8_t FirmwareMailbox::Read(RegisterBank& bank, std::uint8_t address) {
  CatchUp(bank);
  return bank[address];
}

void FirmwareMailbox::Write(RegisterBank& bank, std::uint8_t address, std::uint8_t value) {
  CatchUp(bank);
  // The status and version registers are the firmware's report: the host cannot change them.
  const bool status = address >= kStatus0 && address < kStatus0 + 3;
  const bool version = address >= kVersion0 && address < kVersion0 + 2;
  if (status || version) return;
  bank[address] = value;
  if (address != kCommand) return;
  // A new command replaces one the firmware has not looked at yet; 0 withdraws it.
  due_.reset();
  if (value != kIdle && !neverCompletes_) due_ = clock_.Now() + kResponseTime;
}

bool FirmwareMailbox::Execute(RegisterBank& bank, std::uint8_t command) {
  switch (command) {
    case kParameterCommand:
      return Parameter(bank);
    case kKeyCommand:
      keys_.push_back(bank[kArgument1]);
      return true;
    default:
      return false;
  }
}

bool FirmwareMailbox::Parameter(RegisterBank& bank) {
  const std::uint8_t item = bank[kArgument1];
  const std::uint8_t chunk = bank[kArgument2];
  const auto data = bank.begin() + kData0;
  // Ids and settings travel in chunk 0 only.
  if (item == kVendorIdItem || item == kProductIdItem || item == kSettingsWrite ||
      item == kSettingsRead) {
    if (chunk != 0) return false;
  }
  switch (item) {
    case kVendorIdItem:
      std::copy_n(data, vendorId_.size(), vendorId_.begin());
      return true;
    case kProductIdItem:
      std::copy_n(data, productId_.size(), productId_.begin());
      return true;
    case kSettingsWrite:
      std::copy_n(data, settings_.size(), settings_.begin());
      return true;
    case kSettingsRead: {
      const auto record = Settings();
      std::copy(record.begin(), record.end(), data);
      return true;
    }
    default:
      break;
  }
  const auto string = std::find(kStringItems.begin(), kStringItems.end(), item);
  if (string == kStringItems.end() || chunk >= kStringBlockSize / kDataCount) return false;
  // The firmware cannot tell how many data registers the host filled: it stores all eight, and
  // the length byte says which of them belong to the text.
  auto& block = strings_[static_cast<std::size_t>(string - kStringItems.begin())];
  std::copy_n(data, kDataCount, block.begin() + chunk * kDataCount);
  return true;
}

}  // namespace qv::sim
