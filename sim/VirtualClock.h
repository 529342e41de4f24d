#pragma once

#include "platform/Clock.h"

namespace qv::sim {

// Time that passes only when someone sleeps or a simulated request takes time, so thousands of
// polls run in microseconds and every figure is exact.
class VirtualClock : public Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override {
    now_ += std::chrono::milliseconds(milliseconds);
    slept_ += std::chrono::milliseconds(milliseconds);
  }
  std::chrono::microseconds Now() const override { return now_; }

  void Advance(std::chrono::microseconds duration) { now_ += duration; }
  // Total time spent in Sleep, as opposed to time the device took.
  std::chrono::microseconds Slept() const { return slept_; }

 private:
  std::chrono::microseconds now_{0};
  std::chrono::microseconds slept_{0};
};

}  // namespace qv::sim
