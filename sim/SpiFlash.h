#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/Clock.h"
#include "sim/FlashChips.h"

namespace qv::sim {

// A serial flash behind the bridge, acting on whole chip-select periods the way the real part
// does: write-enable latch, busy time on the clock, block protection, program clearing bits only,
// page wrap, and the auto-address-increment word program of parts that have it.
class SpiFlash {
 public:
  SpiFlash(const FlashChipModel& model, const Clock& clock);

  // One chip-select period: the host clocks out `mosi`, then clocks in `misoCount` bytes, which
  // are returned.
  std::vector<std::uint8_t> Transaction(std::span<const std::uint8_t> mosi, std::size_t misoCount);

  const FlashChipModel& Model() const { return model_; }
  std::span<const std::uint8_t> Contents() const { return contents_; }
  std::span<std::uint8_t> MutableContents() { return contents_; }
  std::uint8_t Status() const;
  void SetStatus(std::uint8_t status) { status_ = status & ~kStatusBusy; }

  bool Busy() const { return stuckBusy_ || clock_.Now() < busyUntil_; }
  // Faults and pins.
  void SetStuckBusy(bool stuck) { stuckBusy_ = stuck; }
  void SetWriteProtectPin(bool asserted) { writeProtectPin_ = asserted; }

  // Counts every change of the contents, so an owner can tell when to save them.
  std::uint64_t Changes() const { return changes_; }

 private:
  bool Protected(std::uint32_t address) const;
  bool AnyProtected() const { return (status_ & model_.protectMask) != 0; }
  void StartBusy(std::chrono::microseconds duration);
  void ProgramByte(std::uint32_t address, std::uint8_t value);
  void Execute(std::span<const std::uint8_t> mosi);
  void WordProgram(std::span<const std::uint8_t> mosi);

  const FlashChipModel& model_;
  const Clock& clock_;
  std::vector<std::uint8_t> contents_;
  std::uint8_t status_;
  std::chrono::microseconds busyUntil_{0};
  bool stuckBusy_ = false;
  bool writeProtectPin_ = false;
  bool wordProgramming_ = false;
  std::uint32_t wordAddress_ = 0;
  std::uint64_t changes_ = 0;
};

}  // namespace qv::sim
