#pragma once

#include <atomic>

#include "platform/Clock.h"

namespace qv::sim {

// Time that passes only when someone sleeps or a simulated request takes time, so thousands of
// polls run in microseconds and every figure is exact. Only its own thread moves it; any thread
// may read it (a host follows the time of the devices other threads work with).
class VirtualClock : public Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override {
    const std::chrono::microseconds pause = std::chrono::milliseconds(milliseconds);
    Advance(pause);
    slept_.store(slept_.load(std::memory_order_relaxed) + pause.count(), std::memory_order_relaxed);
  }
  std::chrono::microseconds Now() const override {
    return std::chrono::microseconds(now_.load(std::memory_order_relaxed));
  }

  void Advance(std::chrono::microseconds duration) {
    now_.store(now_.load(std::memory_order_relaxed) + duration.count(), std::memory_order_relaxed);
  }
  // Total time spent in Sleep, as opposed to time the device took.
  std::chrono::microseconds Slept() const {
    return std::chrono::microseconds(slept_.load(std::memory_order_relaxed));
  }

 private:
  std::atomic<std::chrono::microseconds::rep> now_{0};
  std::atomic<std::chrono::microseconds::rep> slept_{0};
};

}  // namespace qv::sim
