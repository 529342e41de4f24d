#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/Clock.h"
#include "transport/QuorvexUsb.h"

// The device's stored parameters as the Parameter page moves them, each through parameter
// exchanges (which open and close the connection themselves).
namespace qv {

using IdRecord = std::array<std::uint8_t, 4>;
using SettingsRecord = std::array<std::uint8_t, 4>;

inline constexpr std::size_t kMaxParameterStringLength = 31;  // a length byte and 31 characters

// An id as the device keeps it: its first four characters, a shorter text followed by zero bytes.
IdRecord MakeIdRecord(std::string_view text);

// Item 0x08 (vendor id) or 0x0A (product id). True when the firmware completed the exchange.
bool SendId(QuorvexUsb& usb, Clock& clock, unsigned item, std::string_view text);

// Item 0x10, 0x14 or 0x18: a length byte and at most 31 characters (a longer text is cut), in
// chunks of eight with a pause of 50 ms after each. True when every chunk was completed; a chunk
// the firmware does not complete ends the string there.
bool SendString(QuorvexUsb& usb, Clock& clock, unsigned item, std::string_view text);

// The settings record, sent (item 0x20) or fetched (0x21; `record` keeps its bytes unless a
// completed answer arrived).
bool WriteSettings(QuorvexUsb& usb, Clock& clock, SettingsRecord record);
bool ReadSettings(QuorvexUsb& usb, Clock& clock, SettingsRecord& record);

}  // namespace qv
