#pragma once

#include <chrono>
#include <thread>

#include "platform/Clock.h"

namespace qv {

// Real time on a host whose sleeps need no tuning: pauses sleep the calling thread (each device's
// work has its own), time is the monotonic clock.
class SteadyClock final : public Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  std::chrono::microseconds Now() const override {
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
  }
};

}  // namespace qv
