#pragma once

#include <cstdint>
#include <vector>

#include "sim/I2cBus.h"
#include "sim/RegisterBank.h"

namespace qv::sim {

// How the I2C side of a simulated device is built, as the textual setup states it.
struct I2cSetup {
  std::vector<std::uint8_t> slaves{I2cBus::kDefaultSlave};  // address bytes of present slaves
  std::uint32_t busyPolls = 0;  // status reads that still show a byte transfer running
  bool stuck = false;           // byte transfers never finish
};

// The chip's I2C master in bank 14. The host drives every bus step through its registers:
// control 0x10 (start, stop, receive mode; read: status), set-up 0x11, transmit data 0x12,
// receive data 0x13 and transfer command 0x14.
class I2cEngine {
 public:
  static constexpr std::uint8_t kStatusDone = 0x01;
  static constexpr std::uint8_t kStatusNoAck = 0x08;

  void Configure(const I2cSetup& setup);

  // Register accesses of bank 14; registers the engine does not own behave as plain storage.
  std::uint8_t Read(RegisterBank& bank, std::uint8_t address);
  void Write(RegisterBank& bank, std::uint8_t address, std::uint8_t value);

  I2cBus& Bus() { return bus_; }
  // nullptr when no slave answers that address byte.
  RegisterSlave* Slave(std::uint8_t addressByte) { return bus_.Slave(addressByte); }
  void SetBusyPolls(std::uint32_t polls) { busyPolls_ = polls; }
  void SetStuck(bool stuck) { stuck_ = stuck; }

 private:
  void BeginByte();

  I2cBus bus_;
  std::uint32_t busyPolls_ = 0;
  bool stuck_ = false;

  bool transmitArmed_ = false;   // transfer command 1 seen; the byte leaves with the data write
  bool lastReceive_ = false;     // control 0x90: do not acknowledge the next byte received
  bool running_ = false;         // a byte transfer has not reported done yet
  std::uint32_t pollsLeft_ = 0;  // status reads still showing it busy
  std::uint8_t status_ = 0;
};

}  // namespace qv::sim
