#pragma once

#include <cstdint>

#include "platform/Clock.h"
#include "transport/QuorvexUsb.h"

namespace qv {

// One register read; on failure *out keeps what the caller put there.
bool ReadRegister(QuorvexUsb& usb, std::uint16_t address, std::uint8_t* out);
// One register write; only the low 8 bits of a wider value reach the chip.
bool WriteRegister(QuorvexUsb& usb, std::uint16_t address, unsigned value);
bool SelectRegisterBank(QuorvexUsb& usb, std::uint8_t bank);
// What a write with its read-back did: each request's success. A read that went through is a
// fresh value whether or not the write did; the whole succeeded when both did.
struct ReadBack {
  bool written = false;
  bool read = false;
  explicit operator bool() const { return written && read; }
};

// Writes *value, gives the chip `pauseMs` and reads the register back into *value, so a
// read-only or self-clearing register gives the chip's value; *value keeps what was written
// when the read fails.
ReadBack WriteAndReadBack(QuorvexUsb& usb, Clock& clock, std::uint16_t address, std::uint8_t* value,
                          std::uint32_t pauseMs);

}  // namespace qv
