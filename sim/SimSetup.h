#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimBus.h"
#include "sim/VirtualClock.h"

namespace qv::sim {

// What is plugged in and which faults it shows, as the textual setup
// "key=value;key=value" states it.
struct SimSetup {
  std::vector<Identity> devices;  // in plug order; empty: nothing plugged
  std::optional<std::uint64_t> failAfter;
  std::optional<std::uint64_t> failRequest;
  std::chrono::microseconds latency{0};
};

struct SimSetupResult {
  std::optional<SimSetup> setup;
  std::string error;  // set when setup is empty
};

// Parses a setup text. An empty text gives the default: one audio device of the first product.
// Unknown keys and bad values are errors, never ignored.
SimSetupResult ParseSimSetup(std::string_view text);

// A virtual clock and a bus with the devices of a setup plugged in.
class Simulation {
 public:
  explicit Simulation(const SimSetup& setup);
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  VirtualClock& Clock() { return clock_; }
  SimBus& Bus() { return bus_; }

 private:
  VirtualClock clock_;
  SimBus bus_{clock_};
};

}  // namespace qv::sim
