#pragma once

#include <array>
#include <cstdint>
#include <map>

namespace qv::sim {

// A part with 256 byte registers behind an auto-incrementing register pointer, as EEPROMs,
// codecs and DACs on the device's bus are: in a write the first byte after the address sets
// the pointer and later bytes are stored from it on; a read returns bytes from the pointer on.
class RegisterSlave {
 public:
  // Called when the slave acknowledges its address.
  void Addressed(bool read) { pointerNext_ = !read; }
  // One byte from the master; true when acknowledged.
  bool Write(std::uint8_t byte);
  std::uint8_t Read() { return registers_[pointer_++]; }

  std::uint8_t Register(std::uint8_t address) const { return registers_[address]; }
  void SetRegister(std::uint8_t address, std::uint8_t value) { registers_[address] = value; }
  std::uint8_t Pointer() const { return pointer_; }
  // A write-protected part takes the register pointer but acknowledges and stores no data.
  void SetWriteProtected(bool on) { writeProtected_ = on; }

 private:
  std::array<std::uint8_t, 256> registers_{};
  std::uint8_t pointer_ = 0;
  bool pointerNext_ = false;
  bool writeProtected_ = false;
};

// The wires between the chip's I2C master and the slaves. Addresses are address bytes as they
// appear on the bus (7-bit address in bits 7-1, bit 0 the read/write bit); an address nobody
// answers is never acknowledged.
class I2cBus {
 public:
  static constexpr std::uint8_t kDefaultSlave = 0x20;

  // Adds (or keeps) a slave at the address byte; bit 0 is ignored.
  RegisterSlave& Attach(std::uint8_t addressByte) { return slaves_[addressByte >> 1]; }
  void DetachAll() { slaves_.clear(); }
  // nullptr when no slave answers that address byte.
  RegisterSlave* Slave(std::uint8_t addressByte);

  // A start condition, also a repeated one: the next byte sent is an address byte.
  void Start();
  void Stop();
  // One byte from the master; true when a slave acknowledged it.
  bool Transmit(std::uint8_t byte);
  // One byte to the master; `acknowledge` false ends the slave's read. An idle bus reads 0xFF.
  std::uint8_t Receive(bool acknowledge);

 private:
  enum class Phase { kIdle, kAddress, kWriting, kReading };

  std::map<std::uint8_t, RegisterSlave> slaves_;  // by 7-bit address
  Phase phase_ = Phase::kIdle;
  RegisterSlave* active_ = nullptr;
};

}  // namespace qv::sim
