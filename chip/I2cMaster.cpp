#include "chip/I2cMaster.h"

#include <algorithm>
#include <array>

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

// What one bus step came to. A request that failed is not the slave's answer: the engine then
// still shows the previous byte's done and acknowledge bits, so nothing of it may be believed.
enum class Step { kRequestFailed, kNotAcknowledged, kDone };

Step TransmitByte(QuorvexUsb& usb, std::uint8_t byte) {
  // The transfer command arms the transmitter; the byte leaves when it is written.
  if (!WriteRegister(usb, chip::i2c::kTransfer, kTransferTransmit) ||
      !WriteRegister(usb, chip::i2c::kTransmit, byte))
    return Step::kRequestFailed;
  WaitByteDone(usb);
  // The byte has left; a status read that fails only leaves its acknowledge unknown, which
  // counts as not acknowledged.
  std::uint8_t status = kStatusNoAck;
  ReadRegister(usb, chip::i2c::kControl, &status);
  return (status & kStatusNoAck) ? Step::kNotAcknowledged : Step::kDone;
}

Step ReceiveByte(QuorvexUsb& usb, bool last, std::uint8_t* out) {
  if (!WriteRegister(usb, chip::i2c::kControl, last ? kControlReceiveLast : kControlReceive) ||
      !WriteRegister(usb, chip::i2c::kTransfer, kTransferReceive))
    return Step::kRequestFailed;
  WaitByteDone(usb);
  // Also after the polls ran out: the caller gets whatever the receive register holds.
  return ReadRegister(usb, chip::i2c::kReceive, out) ? Step::kDone : Step::kRequestFailed;
}

// Start and address byte until the slave acknowledges, at most kI2cAddressAttempts times. A
// failed request ends the phase at once: repeating it would only repeat the failure.
Step AddressPhase(QuorvexUsb& usb, std::uint8_t addressByte) {
  for (int attempt = 0; attempt < kI2cAddressAttempts; ++attempt) {
    if (!I2CStart(usb)) return Step::kRequestFailed;
    const Step step = TransmitByte(usb, addressByte);
    if (step != Step::kNotAcknowledged) return step;
  }
  return Step::kNotAcknowledged;
}

// Every transfer ends with a stop, also a failed one, so the bus is released. A transfer whose
// stop did not arrive has not ended on the bus and does not count as done.
bool StopWith(QuorvexUsb& usb, bool result) {
  const bool stopped = I2CStop(usb);
  return result && stopped;
}

// Register, command and data bytes are sent whether the slave acknowledges them or not; only a
// request that failed ends the transfer.
bool TransmitBytes(QuorvexUsb& usb, std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes)
    if (TransmitByte(usb, byte) == Step::kRequestFailed) return false;
  return true;
}

bool WriteTransfer(QuorvexUsb& usb, std::uint8_t slave, std::span<const std::uint8_t> prefix,
                   std::span<const std::uint8_t> data) {
  if (prefix.size() > kI2cMaxLength || data.size() > kI2cMaxLength) return false;
  if (AddressPhase(usb, slave) != Step::kDone) return StopWith(usb, false);
  return StopWith(usb, TransmitBytes(usb, prefix) && TransmitBytes(usb, data));
}

bool ReadTransfer(QuorvexUsb& usb, std::uint8_t slave, std::span<const std::uint8_t> prefix,
                  std::span<std::uint8_t> buffer) {
  if (prefix.size() > kI2cMaxLength || buffer.size() > kI2cMaxLength) return false;
  if (AddressPhase(usb, slave) != Step::kDone || !TransmitBytes(usb, prefix))
    return StopWith(usb, false);
  // The second phase's starts are repeated starts: the bus is not released in between.
  if (AddressPhase(usb, static_cast<std::uint8_t>(slave | kReadBit)) != Step::kDone)
    return StopWith(usb, false);
  // The caller's bytes change only when the whole transfer went through.
  std::array<std::uint8_t, kI2cMaxLength> received{};
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    if (ReceiveByte(usb, i + 1 == buffer.size(), &received[i]) != Step::kDone)
      return StopWith(usb, false);
  }
  if (!StopWith(usb, true)) return false;
  std::copy_n(received.begin(), buffer.size(), buffer.begin());
  return true;
}

}  // namespace

bool PrepareI2CMaster(QuorvexUsb& usb) {
  // Without bank 14 selected the set-up value would land in another bank's register 0x11.
  return SelectRegisterBank(usb, chip::bank::kI2c) &&
         WriteRegister(usb, chip::i2c::kSetup, kSetupValue);
}

bool I2CStart(QuorvexUsb& usb) {
  return WriteRegister(usb, chip::i2c::kControl, kControlStart);
}

bool I2CStop(QuorvexUsb& usb) {
  return WriteRegister(usb, chip::i2c::kControl, kControlStop);
}

bool I2CWriteByte(QuorvexUsb& usb, std::uint8_t byte) {
  return TransmitByte(usb, byte) == Step::kDone;
}

bool I2CReadByte(QuorvexUsb& usb, bool last, std::uint8_t* out) {
  return ReceiveByte(usb, last, out) == Step::kDone;
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

ReadBack I2CWriteAndReadBack(QuorvexUsb& usb, Clock& clock, std::uint8_t slave, std::uint8_t reg,
                             std::uint8_t* value, std::uint32_t pauseMs) {
  const bool written = I2CWriteRegisters(usb, slave, reg, {value, 1});
  clock.Sleep(pauseMs);
  const bool read = I2CReadRegisters(usb, slave, reg, {value, 1});
  return {.written = written, .read = read};
}

}  // namespace qv
