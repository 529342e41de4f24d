#include "platform/win32/Win32Clock.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

namespace qv {

Win32Clock::Win32Clock() {
  raisedResolution_ = timeBeginPeriod(1) == TIMERR_NOERROR;
  LARGE_INTEGER frequency{};
  // Never fails on Windows XP and later; the guard only keeps Now() clear of a division by 0.
  countsPerSecond_ =
      QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 ? frequency.QuadPart : 1;
}

Win32Clock::~Win32Clock() {
  if (raisedResolution_) timeEndPeriod(1);
}

void Win32Clock::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

std::chrono::microseconds Win32Clock::Now() const {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  // Whole seconds and the remainder apart, so the product cannot overflow on a long uptime.
  const std::int64_t seconds = counter.QuadPart / countsPerSecond_;
  const std::int64_t rest = counter.QuadPart % countsPerSecond_;
  return std::chrono::microseconds(seconds * 1'000'000 + rest * 1'000'000 / countsPerSecond_);
}

}  // namespace qv
