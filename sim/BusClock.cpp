#include "sim/BusClock.h"

#include <algorithm>

#include "sim/SimBus.h"

namespace qv::sim {

void BusClock::Sleep(std::uint32_t milliseconds) {
  const std::chrono::milliseconds pause(milliseconds);
  Advance(pause);
  slept_ += pause;
}

void BusClock::Advance(std::chrono::microseconds duration) {
  idle_ += duration;
  for (std::size_t i = 0; i < bus_.DeviceCount(); ++i) bus_.Device(i).Clock().Advance(duration);
}

std::chrono::microseconds BusClock::Now() const {
  std::chrono::microseconds now = idle_;
  for (std::size_t i = 0; i < bus_.DeviceCount(); ++i)
    now = std::max(now, bus_.Device(i).Clock().Now());
  return now;
}

}  // namespace qv::sim
