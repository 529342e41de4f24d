#pragma once

#include <chrono>
#include <cstdint>

namespace qv {

// Pauses and a monotonic time. Every wait on the device goes through here, so tests can run
// thousands of polls on a virtual clock in no real time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  virtual std::chrono::microseconds Now() const = 0;
};

}  // namespace qv
