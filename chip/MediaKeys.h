#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/Clock.h"
#include "transport/QuorvexUsb.h"

// The HID media keys the firmware presses on the host's behalf: a key command in bank 0's
// mailbox, which the firmware answers 0x31 once it has acted.
namespace qv {

struct MediaKey {
  std::string_view name;     // for the command line: "prev", "vol-", "play", "vol+", "next"
  std::string_view caption;  // the Information page's button
  std::uint8_t code;
};

// In the order of the page's buttons btnHID0 to btnHID4.
std::span<const MediaKey> MediaKeys();

// Selects bank 0, writes the key code and the key command, and waits for the answer: up to ten
// polls 10 ms apart. True when the firmware completed the key; nothing more is written when a
// request fails.
bool SendMediaKey(QuorvexUsb& usb, Clock& clock, std::uint8_t code);

}  // namespace qv
