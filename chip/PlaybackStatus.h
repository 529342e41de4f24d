#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "transport/QuorvexUsb.h"

// The firmware's playback status in bank 0: the input rate code (0xA4 bits 0-3), a format byte
// (0xA5) and the flags (0xA6: connected, DSD input, muted).
namespace qv {

struct PlaybackStatus {
  std::array<std::uint8_t, 3> registers{};  // 0xA4, 0xA5, 0xA6

  bool Connected() const { return (registers[2] & 0x01) != 0; }
  bool DsdInput() const { return (registers[2] & 0x02) != 0; }
  bool Muted() const { return (registers[2] & 0x04) != 0; }
  // Into the rate texts: the rate code, and 16 more for DSD input.
  std::size_t RateIndex() const { return (registers[0] & 0x0Fu) + (DsdInput() ? 16u : 0u); }
};

// Selects bank 0 and reads the three registers. The status changes only with all three read
// fresh from bank 0: another bank's registers must not pass for it. True then.
bool ReadPlaybackStatus(QuorvexUsb& usb, PlaybackStatus& status);

// The eight-character rate text of an index (0 to 31), right-aligned; blanks for the codes
// without a rate.
std::string_view PlaybackRateText(std::size_t index);
inline constexpr std::size_t kPlaybackRateTexts = 32;

}  // namespace qv
