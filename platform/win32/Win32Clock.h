#pragma once

#include "platform/Clock.h"

namespace qv {

// Real pauses and a monotonic time. While an instance lives, the system timer runs at 1 ms, so
// the short pauses between device polls are about as long as asked and not a scheduler tick.
class Win32Clock final : public Clock {
 public:
  Win32Clock();
  Win32Clock(const Win32Clock&) = delete;
  Win32Clock& operator=(const Win32Clock&) = delete;
  ~Win32Clock() override;

  void Sleep(std::uint32_t milliseconds) override;
  std::chrono::microseconds Now() const override;

 private:
  bool raisedResolution_ = false;
  std::int64_t countsPerSecond_ = 0;
};

}  // namespace qv
