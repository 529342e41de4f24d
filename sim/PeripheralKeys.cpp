#include "sim/PeripheralKeys.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "util/Text.h"

namespace qv::sim {
namespace {

// Exactly N bytes written as 2N hex digits, most significant first ("a1000080").
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> HexBytes(std::string_view text) {
  if (text.size() != 2 * N) return std::nullopt;
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t i = 0; i < N; ++i) {
    const auto byte = ParseUnsigned(text.substr(2 * i, 2), 16);
    if (!byte) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(*byte);
  }
  return bytes;
}

std::string ParseId(std::optional<std::array<char, 4>>& field, std::string_view key,
                    std::string_view value) {
  if (!HexBytes<2>(value)) return std::string(key) + " needs four hex digits, e.g. e6a0";
  // The firmware keeps the characters themselves, so they are stored as written.
  field.emplace();
  std::copy(value.begin(), value.end(), field->begin());
  return {};
}

std::string ParseString(SimSetup& setup, std::size_t i, std::string_view value) {
  if (value.size() > FirmwareMailbox::kMaxStringLength)
    return "string" + std::to_string(i + 1) + " needs at most " +
           std::to_string(FirmwareMailbox::kMaxStringLength) + " characters";
  setup.mailbox.strings[i] = std::string(value);
  if (i == 2) setup.mailbox.serialGiven = true;
  return {};
}

std::string ParseBool(bool& field, std::string_view key, std::string_view value) {
  if (value != "0" && value != "1") return std::string(key) + " needs 0 or 1";
  field = value == "1";
  return {};
}

}  // namespace

std::string ParseVidKey(SimSetup& setup, std::string_view value) {
  return ParseId(setup.mailbox.vendorId, "vid", value);
}

std::string ParsePidKey(SimSetup& setup, std::string_view value) {
  return ParseId(setup.mailbox.productId, "pid", value);
}

std::string ParseString1Key(SimSetup& setup, std::string_view value) {
  return ParseString(setup, 0, value);
}

std::string ParseString2Key(SimSetup& setup, std::string_view value) {
  return ParseString(setup, 1, value);
}

std::string ParseString3Key(SimSetup& setup, std::string_view value) {
  return ParseString(setup, 2, value);
}

std::string ParseSettingsKey(SimSetup& setup, std::string_view value) {
  const auto record = HexBytes<4>(value);
  if (!record) return "settings needs eight hex digits, record bytes 0 to 3, e.g. a1000000";
  setup.mailbox.settings = *record;
  return {};
}

std::string ParseEepromKey(SimSetup& setup, std::string_view value) {
  return ParseBool(setup.mailbox.eeprom, "eeprom", value);
}

std::string ParseStatusKey(SimSetup& setup, std::string_view value) {
  const auto status = HexBytes<3>(value);
  if (!status) return "status needs six hex digits, registers a4, a5 and a6, e.g. 040001";
  setup.mailbox.status = *status;
  return {};
}

std::string ParseVersionKey(SimSetup& setup, std::string_view value) {
  const auto version = HexBytes<2>(value);
  if (!version) return "version needs four hex digits, major then minor, e.g. 0109";
  setup.mailbox.version = *version;
  return {};
}

std::string ParseMailboxKey(SimSetup& setup, std::string_view value) {
  if (value != "never" && value != "answers") return "mailbox needs answers or never";
  setup.mailbox.neverCompletes = value == "never";
  return {};
}

std::string ParseI2cSlavesKey(SimSetup& setup, std::string_view value) {
  std::vector<std::uint8_t> slaves;
  if (value != "none") {
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = value.find(',', start);
      const auto address = HexBytes<1>(value.substr(start, comma - start));
      // Bit 0 is the read/write bit of the address byte, not part of the address.
      if (!address || ((*address)[0] & 1) != 0)
        return "i2c-slaves needs address bytes as two hex digits with bit 0 clear, comma "
               "separated (e.g. 20,a0), or none";
      slaves.push_back((*address)[0]);
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
  }
  setup.i2c.slaves = std::move(slaves);
  return {};
}

std::string ParseI2cBusyPollsKey(SimSetup& setup, std::string_view value) {
  const auto polls = ParseUnsigned(value, 10, 255);
  if (!polls) return "i2c-busy-polls needs a number of status reads from 0 to 255";
  setup.i2c.busyPolls = static_cast<std::uint32_t>(*polls);
  return {};
}

std::string ParseI2cStuckKey(SimSetup& setup, std::string_view value) {
  return ParseBool(setup.i2c.stuck, "i2c-stuck", value);
}

}  // namespace qv::sim
