#pragma once

#include <cstdint>

#include "transport/QuorvexUsb.h"

namespace qv {

// One register read; on failure *out keeps what the caller put there.
bool ReadRegister(QuorvexUsb& usb, std::uint16_t address, std::uint8_t* out);
// One register write; only the low 8 bits of a wider value reach the chip.
bool WriteRegister(QuorvexUsb& usb, std::uint16_t address, unsigned value);
bool SelectRegisterBank(QuorvexUsb& usb, std::uint8_t bank);

}  // namespace qv
