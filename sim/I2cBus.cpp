#include "sim/I2cBus.h"

namespace qv::sim {

bool RegisterSlave::Write(std::uint8_t byte) {
  if (pointerNext_) {
    pointer_ = byte;
    pointerNext_ = false;
    return true;
  }
  if (writeProtected_) return false;
  registers_[pointer_++] = byte;
  return true;
}

RegisterSlave* I2cBus::Slave(std::uint8_t addressByte) {
  const auto it = slaves_.find(addressByte >> 1);
  return it == slaves_.end() ? nullptr : &it->second;
}

void I2cBus::Start() {
  phase_ = Phase::kAddress;
  active_ = nullptr;
}

void I2cBus::Stop() {
  phase_ = Phase::kIdle;
  active_ = nullptr;
}

bool I2cBus::Transmit(std::uint8_t byte) {
  switch (phase_) {
    case Phase::kAddress: {
      active_ = Slave(byte);
      if (!active_) {
        // Nobody pulled the acknowledge low: the bus stays idle until the next start.
        phase_ = Phase::kIdle;
        return false;
      }
      const bool read = (byte & 1) != 0;
      active_->Addressed(read);
      phase_ = read ? Phase::kReading : Phase::kWriting;
      return true;
    }
    case Phase::kWriting:
      return active_->Write(byte);
    default:
      // A slave that is sending, or no slave at all, does not acknowledge what the master sends.
      return false;
  }
}

std::uint8_t I2cBus::Receive(bool acknowledge) {
  if (phase_ != Phase::kReading) return 0xFF;  // nobody drives the line: it reads high
  const std::uint8_t byte = active_->Read();
  // Without an acknowledge the slave lets go of the bus until the next start.
  if (!acknowledge) phase_ = Phase::kIdle;
  return byte;
}

}  // namespace qv::sim
