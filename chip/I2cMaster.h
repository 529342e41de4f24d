#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "chip/Registers.h"
#include "platform/Clock.h"
#include "transport/QuorvexUsb.h"

// The chip's I2C master, driven one bus step at a time through its registers in bank 14. The
// caller opens the connection and runs PrepareI2CMaster first; nothing here opens or closes it.
namespace qv {

inline constexpr int kI2cStatusPolls = 20;         // status reads per byte, no pause between them
inline constexpr int kI2cAddressAttempts = 10;     // start and address byte per address phase
inline constexpr std::size_t kI2cMaxLength = 255;  // lengths travel as 8-bit counts

// Selects bank 14 and sets the engine up; true when both requests succeeded (the set-up write
// is not sent when the bank could not be selected).
bool PrepareI2CMaster(QuorvexUsb& usb);

// Byte primitives.
bool I2CStart(QuorvexUsb& usb);  // also the repeated start
bool I2CStop(QuorvexUsb& usb);
// Sends one byte; true when the slave acknowledged it. A request that failed is never taken
// for an acknowledge: the engine would still show the previous byte's bits.
bool I2CWriteByte(QuorvexUsb& usb, std::uint8_t byte);
// Receives one byte into *out (kept when the read fails); `last` leaves it unacknowledged,
// which ends the slave's read. True when every request of the step succeeded.
bool I2CReadByte(QuorvexUsb& usb, bool last, std::uint8_t* out);

// Transfers to the slave at the address byte `slave` (bit 0 clear). Each is true when the
// slave acknowledged its address in every address phase and every request went through;
// acknowledges of later bytes are not examined. A failed request ends the transfer at once.
// Every transfer ends with a stop. A length above kI2cMaxLength is refused: nothing is sent and
// the result is false. A failed read leaves the buffer as it was.
bool I2CWriteRegisters(QuorvexUsb& usb, std::uint8_t slave, std::uint8_t reg,
                       std::span<const std::uint8_t> data);
bool I2CReadRegisters(QuorvexUsb& usb, std::uint8_t slave, std::uint8_t reg,
                      std::span<std::uint8_t> buffer);
// As the register transfers with a free command prefix in place of the register byte.
bool I2CWrite(QuorvexUsb& usb, std::uint8_t slave, std::span<const std::uint8_t> command,
              std::span<const std::uint8_t> data);
bool I2CRead(QuorvexUsb& usb, std::uint8_t slave, std::span<const std::uint8_t> command,
             std::span<std::uint8_t> buffer);

// One register of a slave written from *value, `pauseMs` for the part, and read back into
// *value (which keeps its byte when the read fails).
ReadBack I2CWriteAndReadBack(QuorvexUsb& usb, Clock& clock, std::uint8_t slave, std::uint8_t reg,
                             std::uint8_t* value, std::uint32_t pauseMs);

}  // namespace qv
