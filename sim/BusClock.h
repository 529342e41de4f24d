#pragma once

#include <chrono>

#include "platform/Clock.h"

namespace qv::sim {

class SimBus;

// The time of the whole bus, for a host that works with its devices one after another: a pause
// passes on every device's own clock, and the bus's time is the furthest any device has come.
// Each device keeps its own clock so that devices driven side by side on their own threads share
// nothing; while they are, each thread pauses on its own device's clock and this one is not used.
class BusClock final : public Clock {
 public:
  explicit BusClock(SimBus& bus) : bus_(bus) {}

  void Sleep(std::uint32_t milliseconds) override;
  std::chrono::microseconds Now() const override;

  // Time passes on every device as on a link that is busy elsewhere.
  void Advance(std::chrono::microseconds duration);
  // Total time spent in Sleep, as opposed to time the devices took.
  std::chrono::microseconds Slept() const { return slept_; }

 private:
  SimBus& bus_;
  std::chrono::microseconds idle_{0};  // the bus's time while no device is plugged
  std::chrono::microseconds slept_{0};
};

}  // namespace qv::sim
