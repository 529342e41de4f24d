#pragma once

#include "platform/Clock.h"

namespace qv::sim {

// The clock of a window program over the simulated device. Its pauses are real, so the window
// runs in real time, and every pause also advances the simulation's virtual clock by the same
// amount, so the simulated flash's busy times pass as the program waits for them. (The virtual
// clock alone would make pauses instant; the real clock alone would leave the flash busy for
// ever, as its time only moves when someone sleeps on it.) Time is read from the real clock;
// a request's simulated latency moves only the virtual one.
class PacedClock final : public Clock {
 public:
  PacedClock(Clock& real, Clock& simulated) : real_(real), simulated_(simulated) {}

  void Sleep(std::uint32_t milliseconds) override {
    real_.Sleep(milliseconds);
    simulated_.Sleep(milliseconds);
  }
  std::chrono::microseconds Now() const override { return real_.Now(); }

 private:
  Clock& real_;
  Clock& simulated_;
};

}  // namespace qv::sim
