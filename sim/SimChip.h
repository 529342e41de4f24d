#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/Clock.h"
#include "platform/DriverRecords.h"
#include "sim/FirmwareMailbox.h"
#include "sim/I2cEngine.h"
#include "sim/IspBridge.h"

namespace qv::sim {

// The QV5230 as its vendor requests see it.
class SimChip {
 public:
  explicit SimChip(Clock& clock) : clock_(clock), isp_(clock), mailbox_(clock) {}

  // Carries out one vendor control transfer. For device-to-host requests the answer is written
  // to `answer` (request.length bytes). False when the chip stalls the request.
  bool Control(const drivers::DecodedRequest& request, std::span<std::uint8_t> answer);

  // Direct access for tests and set-up, bypassing the request path.
  std::uint8_t Peek(std::uint8_t bank, std::uint8_t address) const { return banks_[bank][address]; }
  void Poke(std::uint8_t bank, std::uint8_t address, std::uint8_t value) {
    banks_[bank][address] = value;
  }
  std::uint8_t SelectedBank() const { return selectedBank_; }

  IspBridge& Isp() { return isp_; }
  const IspBridge& Isp() const { return isp_; }
  SpiFlash& Flash() { return isp_.Flash(); }

  // The firmware's mailbox in bank 0 and the I2C master in bank 14 with its bus.
  FirmwareMailbox& Mailbox() { return mailbox_; }
  I2cEngine& I2c() { return i2c_; }
  // Loads the firmware's stored parameters and status registers.
  void ConfigureMailbox(const MailboxSetup& setup, const Identity& identity) {
    mailbox_.Configure(setup, identity, banks_[kMailboxBank]);
  }

 private:
  std::uint8_t ReadRegister(std::uint8_t address);
  void WriteRegister(std::uint8_t address, std::uint8_t value);

  Clock& clock_;
  std::array<std::array<std::uint8_t, 256>, 256> banks_{};
  std::uint8_t selectedBank_ = 0;
  IspBridge isp_;
  static constexpr std::uint8_t kMailboxBank = 0, kI2cBank = 14;
  FirmwareMailbox mailbox_;
  I2cEngine i2c_;
};

}  // namespace qv::sim
