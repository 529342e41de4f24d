#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "sim/Catalogue.h"
#include "sim/RequestLog.h"
#include "sim/SimChip.h"
#include "sim/VirtualClock.h"

namespace qv::sim {

// When a device is plugged in, on its own clock: from `in` on, up to `out` if it has one.
struct PlugInterval {
  std::chrono::milliseconds in{0};
  std::optional<std::chrono::milliseconds> out;
};
using PlugSchedule = std::vector<PlugInterval>;

// One simulated device on the bus: its identity, its chip and the faults it is to show.
class SimDevice {
 public:
  // The device's clock starts at `now`, the bus's time when it is plugged in.
  SimDevice(Identity identity, std::string instanceId, std::chrono::microseconds now)
      : identity_(std::move(identity)), instanceId_(std::move(instanceId)), chip_(clock_) {
    clock_.Advance(now);
  }

  const Identity& GetIdentity() const { return identity_; }
  // A device that changes identity re-enumerates: handles opened before no longer reach it.
  void SetIdentity(Identity identity) {
    identity_ = std::move(identity);
    ++generation_;
  }
  std::uint64_t Generation() const { return generation_; }

  // The interface class the device's driver registers.
  const Guid& InterfaceClass() const;
  // The Windows-style interface path, ids in lower case, e.g.
  // \\?\usb#vid_e6a4&pid_6000#5&2c3d4e5f&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}
  std::string InterfacePath() const;
  // The strings its descriptors report (manufacturer, product, serial number): what its firmware
  // kept when it was last plugged in.
  const std::array<std::string, 3>& Strings() const { return strings_; }
  // Its serial string (the descriptor's string 3).
  const std::string& SerialNumber() const { return strings_[2]; }
  void SetSerialNumber(std::string serial) { strings_[2] = std::move(serial); }
  // String descriptor `index` as the chip answers it: 0 the language table (US English only), 1
  // to 3 the strings, each stored byte one UTF-16 unit; empty for any other index.
  std::vector<std::uint8_t> StringDescriptor(std::uint8_t index) const;
  // Plugged in, the chip takes what its firmware keeps: the strings, and with `storedIds` the ids
  // too, when they are four hexadecimal digits and the device presents itself as an audio product
  // (a device with a firmware-update id keeps that id).
  void Enumerate(bool storedIds);
  // The 18-byte USB device descriptor.
  std::array<std::uint8_t, 18> DeviceDescriptor() const;

  // The device's own time: its requests and its flash's busy times pass on it, and the host's
  // pauses for it.
  VirtualClock& Clock() { return clock_; }
  const VirtualClock& Clock() const { return clock_; }
  // What the device received, in order.
  RequestLog& Log() { return log_; }
  const RequestLog& Log() const { return log_; }

  SimChip& Chip() { return chip_; }
  const SimChip& Chip() const { return chip_; }

  // Faults: refuse the n-th request (1-based) without acting on it; answer the n-th request
  // short when it reads from the device (its driver reports success with one byte fewer than
  // asked for); answer n requests, then leave the bus.
  void FailRequestNumber(std::uint64_t n) { failRequest_ = n; }
  void ShortAnswerNumber(std::uint64_t n) { shortRequest_ = n; }
  void GoneAfterRequests(std::uint64_t n) { goneAfter_ = n; }

  // Counts one request; false when a fault makes it fail.
  bool AdmitRequest() {
    ++requests_;
    if (arrival_) {
      firstRequestDelays_.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::steady_clock::now() - *arrival_));
      arrival_.reset();
    }
    return !(failRequest_ && requests_ == *failRequest_);
  }
  // Whether the request just admitted is to be answered short.
  bool AnswersShort() const { return shortRequest_ && requests_ == *shortRequest_; }
  bool ShouldLeaveBus() const { return goneAfter_ && requests_ >= *goneAfter_; }
  std::uint64_t RequestCount() const { return requests_; }

  // A bench's port: the device is plugged in and taken out on its own clock as the schedule
  // says. Time passes on it while it is worked with, and while it waits (the host's waits for
  // devices to come advance the devices nobody works with).
  void SetSchedule(PlugSchedule schedule) { schedule_ = std::move(schedule); }
  bool HasSchedule() const { return !schedule_.empty(); }
  // Whether the schedule has the device plugged in now.
  bool ScheduledIn() const;
  // The first moment after `now`, on the device's clock, at which its schedule plugs it in or
  // takes it out; nullopt when the schedule has no more.
  std::optional<std::chrono::microseconds> NextScheduledChange(std::chrono::microseconds now) const;
  // How many of the schedule's pluggings in have begun by now: one more since the last look is
  // a new arrival, however short the time out was.
  std::size_t ScheduledArrivals() const;
  // For benchmarks: each arrival's time on the wall clock, and how long after it the first
  // request came (in the order of the arrivals that got one).
  void Arrived();
  const std::vector<std::chrono::microseconds>& FirstRequestDelays() const {
    return firstRequestDelays_;
  }

 private:
  Identity identity_;
  std::string instanceId_;
  std::array<std::string, 3> strings_;
  VirtualClock clock_;  // before the chip, which keeps a reference to it
  RequestLog log_;
  SimChip chip_;
  std::uint64_t generation_ = 0;
  std::uint64_t requests_ = 0;
  std::optional<std::uint64_t> failRequest_;
  std::optional<std::uint64_t> shortRequest_;
  std::optional<std::uint64_t> goneAfter_;
  PlugSchedule schedule_;
  std::optional<std::chrono::steady_clock::time_point> arrival_;
  std::vector<std::chrono::microseconds> firstRequestDelays_;
};

}  // namespace qv::sim
