#include "sim/I2cEngine.h"

namespace qv::sim {
namespace {

// Bank 14 registers.
constexpr std::uint8_t kControl = 0x10;
constexpr std::uint8_t kTransmitData = 0x12;
constexpr std::uint8_t kReceiveData = 0x13;
constexpr std::uint8_t kTransfer = 0x14;

// Control values.
constexpr std::uint8_t kStart = 0xC0;
constexpr std::uint8_t kStop = 0xA0;
constexpr std::uint8_t kReceiveAck = 0x80;
constexpr std::uint8_t kReceiveLast = 0x90;

// Transfer commands.
constexpr std::uint8_t kTransmit = 1;
constexpr std::uint8_t kReceive = 3;

}  // namespace

void I2cEngine::Configure(const I2cSetup& setup) {
  bus_.DetachAll();
  for (std::uint8_t address : setup.slaves) bus_.Attach(address);
  busyPolls_ = setup.busyPolls;
  stuck_ = setup.stuck;
}

std::uint8_t I2cEngine::Read(RegisterBank& bank, std::uint8_t address) {
  if (address != kControl) return bank[address];
  if (running_ && !stuck_) {
    if (pollsLeft_ > 0) {
      --pollsLeft_;
    } else {
      running_ = false;
      status_ |= kStatusDone;
    }
  }
  return status_;
}

void I2cEngine::BeginByte() {
  running_ = true;
  pollsLeft_ = busyPolls_;
  status_ = 0;
}

void I2cEngine::Write(RegisterBank& bank, std::uint8_t address, std::uint8_t value) {
  bank[address] = value;
  switch (address) {
    case kControl:
      if (value == kStart) bus_.Start();
      if (value == kStop) bus_.Stop();
      if (value == kReceiveAck || value == kReceiveLast) lastReceive_ = value == kReceiveLast;
      break;
    case kTransfer:
      transmitArmed_ = value == kTransmit;
      if (value != kReceive) break;
      BeginByte();
      // A hung engine never clocks the byte in: the receive register keeps its old value.
      if (!stuck_) bank[kReceiveData] = bus_.Receive(!lastReceive_);
      break;
    case kTransmitData:
      // The transfer command comes first; the byte leaves when its data is written.
      if (!transmitArmed_) break;
      transmitArmed_ = false;
      BeginByte();
      // A hung engine never sees an acknowledge either.
      if (stuck_ || !bus_.Transmit(value)) status_ |= kStatusNoAck;
      break;
    default:
      break;
  }
}

}  // namespace qv::sim
