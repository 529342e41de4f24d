#include "chip/I2cMaster.h"

#include "chip/RegisterMap.h"
#include "chip/Registers.h"

namespace qv {
namespace {

constexpr std::uint8_t kSetupValue = 4;

constexpr std::uint8_t kControlStart = 0xC0;
constexpr std::uint8_t kControlStop = 0xA0;
constexpr std::uint8_t kControlReceive = 0x80;      // acknowledge the byte: more follow
constexpr std::uint8_t kControlReceiveLast = 0x90;  // leave it unacknowledged: the read ends

constexpr std::uint8_t kTransferTransmit = 1;
constexpr std::uint8_t kTransferReceive = 3;

constexpr std::uint8_t kStatusDone = 0x01;
constexpr std::uint8_t kStatusNoAck = 0x08;

constexpr std::uint8_t kReadBit = 0x01;

// Polls until the current byte transfer reports done. Running out of polls is not an error:
// the caller goes on with whatever the engine holds.
void WaitByteDone(QuorvexUsb& usb) {
  for (int poll = 0; poll < kI2cStatusPolls; ++poll) {
    std::uint8_t status = 0;  // a failed read counts as not done
    if (ReadRegister(usb, chip::i2c::kControl, &status) && (status & kStatusDone)) return;
  }
}

// Start and address byte until the slave acknowledges, at most kI2cAddressAttempts times.
bool AddressPhase(QuorvexUsb& usb, std::uint8_t addressByte) {
  for (int attempt = 0; attempt < kI2cAddressAttempts; ++attempt) {
    I2CStart(usb);
    if (I2CWriteByte(usb, addressByte)) return true;
  }
  return false;
}

bool StopWith(QuorvexUsb& usb, bool result) {
  I2CStop(usb);
  return result;
}

void WriteBytes(QuorvexUsb& usb, std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) I2CWriteByte(usb, byte);
}

bool WriteTransfer(QuorvexUsb& usb, std::uint8_t slave, std::span<const std::uint8_t> prefix,
                   std::span<const std::uint8_t> data) {
  if (prefix.size() > kI2cMaxLength || data.size() > kI2cMaxLength) return false;
  if (!AddressPhase(usb, slave)) return StopWith(usb, false);
  WriteBytes(usb, prefix);
  WriteBytes(usb, data);
  return StopWith(usb, true);
}

bool ReadTransfer(QuorvexUsb& usb, std::uint8_t slave, std::span<const std::uint8_t> prefix,
                  std::span<std::uint8_t> buffer) {
  if (prefix.size() > kI2cMaxLength || buffer.size() > kI2cMaxLength) return false;
  if (!AddressPhase(usb, slave)) return StopWith(usb, false);
  WriteBytes(usb, prefix);
  // The second phase's starts are repeated starts: the bus is not released in between.
  if (!AddressPhase(usb, static_cast<std::uint8_t>(slave | kReadBit))) return StopWith(usb, false);
  for (std::size_t i = 0; i < buffer.size(); ++i)
    I2CReadByte(usb, i + 1 == buffer.size(), &buffer[i]);
  return StopWith(usb, true);
}

}  // namespace

bool PrepareI2CMaster(QuorvexUsb& usb) {
  SelectRegisterBank(usb, chip::bank::kI2c);
  return WriteRegister(usb, chip::i2c::kSetup, kSetupValue);
}

bool I2CStart(QuorvexUsb& usb) {
  return WriteRegister(usb, chip::i2c::kControl, kControlStart);
}

bool I2CStop(QuorvexUsb& usb) {
  return WriteRegister(usb, chip::i2c::kControl, kControlStop);
}

bool I2CWriteByte(QuorvexUsb& usb, std::uint8_t byte) {
  // The transfer command arms the transmitter; the byte leaves when it is written.
  WriteRegister(usb, chip::i2c::kTransfer, kTransferTransmit);
  WriteRegister(usb, chip::i2c::kTransmit, byte);
  WaitByteDone(usb);
  std::uint8_t status = kStatusNoAck;  // a failed read counts as not acknowledged
  ReadRegister(usb, chip::i2c::kControl, &status);
  return (status & kStatusNoAck) == 0;
}

bool I2CReadByte(QuorvexUsb& usb, bool last, std::uint8_t* out) {
  WriteRegister(usb, chip::i2c::kControl, last ? kControlReceiveLast : kControlReceive);
  WriteRegister(usb, chip::i2c::kTransfer, kTransferReceive);
  WaitByteDone(usb);
  // Also after the polls ran out: the caller gets whatever the receive register holds.
  return ReadRegister(usb, chip::i2c::kReceive, out);
}

bool I2CWriteRegisters(QuorvexUsb& usb, std::uint8_t slave, std::uint8_t reg,
                       std::span<const std::uint8_t> data) {
  return WriteTransfer(usb, slave, {&reg, 1}, data);
}

bool I2CReadRegisters(QuorvexUsb& usb, std::uint8_t slave, std::uint8_t reg,
                      std::span<std::uint8_t> buffer) {
  return ReadTransfer(usb, slave, {&reg, 1}, buffer);
}

bool I2CWrite(QuorvexUsb& usb, std::uint8_t slave, std::span<const std::uint8_t> command,
              std::span<const std::uint8_t> data) {
  return WriteTransfer(usb, slave, command, data);
}

bool I2CRead(QuorvexUsb& usb, std::uint8_t slave, std::span<const std::uint8_t> command,
             std::span<std::uint8_t> buffer) {
  return ReadTransfer(usb, slave, command, buffer);
}

}  // namespace qv
