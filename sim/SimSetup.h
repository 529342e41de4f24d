#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/BusClock.h"
#include "sim/FlashChips.h"
#include "sim/SimBus.h"

namespace qv::sim {

// What is plugged in and which faults it shows, as the textual setup
// "key=value;key=value" states it.
struct SimSetup {
  std::vector<Identity> devices;  // in plug order; empty: nothing plugged
  std::optional<std::uint64_t> failAfter;
  std::optional<std::uint64_t> failRequest;
  std::optional<std::uint64_t> shortRequest;
  // A high-speed USB control transfer takes at least a microframe.
  std::chrono::microseconds latency{125};
  const FlashChipModel* flash = &DefaultFlashChip();
  // Backing files of the devices' flash, in plug order; a device past the end of the list has
  // none. A single path backs the first device.
  std::vector<std::filesystem::path> flashFiles;
  bool stuckBusy = false;
  // Requests take their latency in real time too, and a host paces its pauses with the real
  // clock (PacedClock): the devices can be timed with a wall clock.
  bool realTime = false;
  bool writeProtectPin = false;
  std::uint32_t flipReads = 0;
  std::optional<std::uint32_t> readyAfter = 0;  // nullopt: never ready
  // When each device (in plug order) is plugged in and taken out; a device past the end of the
  // list, or with an empty schedule, stays plugged in.
  std::vector<PlugSchedule> schedules;
  // The bench's port of each device (in plug order, from 1); devices of one port share its
  // interface path, one after another as their schedules say. Past the list each device has a
  // port of its own.
  std::vector<std::size_t> ports;
  MailboxSetup mailbox;  // the firmware's stored parameters, status and version
  I2cSetup i2c;          // the slaves on the chip's I2C bus
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

  // The bus's time, for a host that works with one device at a time; a device's own clock is
  // Bus().Device(i).Clock().
  BusClock& Clock() { return clock_; }
  bool RealTime() const { return bus_.RealTime(); }
  SimBus& Bus() { return bus_; }
  // Why a flash file could not be read when the simulation began (the flash then holds the
  // older firmware), or could not be saved since; empty while every file is as it should be.
  std::string FileError() const;
  // What a process claims to own the device at `path` (see platform/DeviceOwner.h): the flash
  // file, the one thing two processes' simulated devices can share; empty for a device whose
  // flash lives in this process only, which nobody else can reach.
  std::string ClaimKey(std::string_view path);

 private:
  SimBus bus_;
  BusClock clock_{bus_};
  std::string attachError_;
};

// The claim key of a simulated device kept in `file`: one for every spelling of the file's path.
std::string FlashFileClaimKey(const std::filesystem::path& file);

}  // namespace qv::sim
