#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/Clock.h"
#include "sim/DriverRecords.h"

namespace qv::sim {

// The QV5230 as its vendor requests see it.
class SimChip {
 public:
  explicit SimChip(Clock& clock) : clock_(clock) {}

  // Carries out one vendor control transfer. For device-to-host requests the answer is written
  // to `answer` (request.length bytes). False when the chip stalls the request.
  bool Control(const DecodedRequest& request, std::span<std::uint8_t> answer);

  // Direct access for tests and set-up, bypassing the request path.
  std::uint8_t Peek(std::uint8_t bank, std::uint8_t address) const { return banks_[bank][address]; }
  void Poke(std::uint8_t bank, std::uint8_t address, std::uint8_t value) {
    banks_[bank][address] = value;
  }
  std::uint8_t SelectedBank() const { return selectedBank_; }

 private:
  std::uint8_t ReadRegister(std::uint8_t address);
  void WriteRegister(std::uint8_t address, std::uint8_t value);

  Clock& clock_;
  std::array<std::array<std::uint8_t, 256>, 256> banks_{};
  std::uint8_t selectedBank_ = 0;
};

}  // namespace qv::sim
