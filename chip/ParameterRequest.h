#pragma once

#include <chrono>
#include <cstdint>

#include "platform/Clock.h"
#include "transport/QuorvexUsb.h"

namespace qv {

namespace parameter {
inline constexpr unsigned kCommand = 0x10;        // every parameter exchange
inline constexpr std::uint8_t kCompleted = 0xEE;  // the firmware's answer in the command register
inline constexpr unsigned kReadBit = 0x01;        // item bit 0: fetch instead of store
inline constexpr std::uint8_t kMaxLength = 8;     // the mailbox's data registers
inline constexpr int kCompletionRounds = 20;
inline constexpr std::chrono::milliseconds kCompletionPause{10};

// Items the device keeps.
inline constexpr unsigned kVendorId = 0x08;
inline constexpr unsigned kProductId = 0x0A;
inline constexpr unsigned kString1 = 0x10;  // manufacturer
inline constexpr unsigned kString2 = 0x14;  // model name
inline constexpr unsigned kString3 = 0x18;  // serial number
inline constexpr unsigned kSettingsWrite = 0x20;
inline constexpr unsigned kSettingsRead = 0x21;
}  // namespace parameter

// One exchange with the firmware's parameter mailbox in bank 0. Opens and closes the
// connection itself, so it must not run while another action holds it open. For a write item
// the `length` bytes of `data` are sent; for a read item they are filled from the device.
// Command, item and chunk send their low 8 bits.
//
// True only when the connection opened, every request succeeded and the firmware reported
// completion. The exchange stops at its first failed request. A write whose completion wait ran
// out still clears the command register; a read that was not completed, or whose data could not
// all be read, leaves the caller's bytes as they were. A length above parameter::kMaxLength is
// refused: nothing is sent and the result is false.
bool ParameterRequest(QuorvexUsb& usb, Clock& clock, unsigned command, unsigned item,
                      unsigned chunk, std::uint8_t length, std::uint8_t* data);

}  // namespace qv
