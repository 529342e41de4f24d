#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DeviceInterfaces.h"
#include "platform/DeviceIo.h"
#include "sim/RequestLog.h"
#include "sim/SimDevice.h"

namespace qv::sim {

// The USB stack, the two drivers and the plugged devices: what the tool reaches through the
// DeviceIo and DeviceInterfaces ports.
//
// Devices may be driven side by side, each on a thread of its own: each one keeps its clock, its
// log and its open handles to itself, so two threads on two devices share nothing but the order
// number of their requests. Plugging in, the bus-wide log and its switches are for the thread
// that set the bus up, while no other is at work.
class SimBus : public DeviceIo, public DeviceInterfaces {
 public:
  SimBus() = default;

  // Plugs a new device in and returns it; it stays owned by the bus. Its clock starts at the
  // time the bus has reached. Each device has a port of its own unless `port` (from 1) names one
  // it shares with others, which then have its interface path as devices swapped there would.
  SimDevice& Plug(Identity identity, std::optional<std::size_t> port = std::nullopt);
  void Unplug(SimDevice& device);
  void Replug(SimDevice& device);
  bool IsPlugged(const SimDevice& device) const;
  std::size_t DeviceCount() const { return slots_.size(); }
  SimDevice& Device(std::size_t i) { return *slots_[i]->device; }
  const SimDevice& Device(std::size_t i) const { return *slots_[i]->device; }
  // The plugged device whose interface path this is; nullptr for none.
  SimDevice* DeviceAt(std::string_view path);

  // Plugs in and takes out the devices that have a schedule, as their clocks say. Each device's
  // schedule is followed on the thread that works with it: at each of its requests, or here.
  void FollowSchedules();
  // Lets time pass on every device but those in use (whose own work moves their clocks), as a
  // host's wait for devices to come; true when a schedule plugged a device in or took one out.
  bool AdvanceIdle(std::chrono::microseconds duration, const std::vector<std::string>& inUse);
  // A host that keeps one time of its own, `now`, over devices that keep theirs: the devices
  // nobody works with are brought up to it (a clock that a device's own work took further stands
  // until the host's time reaches it) and follow their schedules; true when a schedule plugged a
  // device in or took one out.
  bool AdvanceIdleTo(std::chrono::microseconds now, const std::vector<std::string>& inUse);
  // For such a host at `now`: the host's time at which the schedule of a device nobody works with
  // next plugs it in or takes it out, so that a waiting host wakes for it and not before; nullopt
  // when no schedule will change anything.
  std::optional<std::chrono::microseconds> NextScheduledChange(
      std::chrono::microseconds now, const std::vector<std::string>& inUse) const;
  // The device's own time, whether it is plugged in or not; nullopt for a path of no device.
  std::optional<std::chrono::microseconds> TimeOf(std::string_view path) const;

  // Each request takes this long on the device's clock, as a real USB link would.
  void SetLatency(std::chrono::microseconds latency) { latency_ = latency; }
  // Requests also take their latency in real time, on the thread that makes them, so that the
  // simulated devices can be timed with a wall clock.
  void SetRealTime(bool realTime) { realTime_ = realTime; }
  bool RealTime() const { return realTime_; }

  // Every device's requests in the order they were made. Built when asked for: a reference
  // stays valid until the next call.
  const RequestLog& Log() const;
  void ClearLog();
  // Benchmarks of long sequences switch the logs off to measure the code, not the log.
  void SetLogEnabled(bool enabled);
  std::size_t OpenHandleCount() const;
  // Handles opened so far, for tests that pin when a connection is opened again.
  std::size_t OpenCount() const;

  // DeviceIo
  NativeHandle Open(const char* path) override;
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override;
  void Close(NativeHandle handle) override;

  // DeviceInterfaces
  std::optional<std::vector<std::string>> PresentPaths(const Guid& interfaceClass) override;
  // "enumeration N": the number the bus gave the device's plugging in, a new one for every
  // plugging in of any device as a USB stack gives addresses, so that a replug of any length or
  // a swap on one port is a new arrival.
  std::string Arrival(const std::string& path) override;

 private:
  struct OpenHandle {
    std::uint64_t plugGeneration;
    std::uint64_t identityGeneration;
  };
  // One port of the bus. Only the device's own thread touches its handles; whether it is
  // plugged is read by every thread that enumerates.
  struct Slot {
    std::unique_ptr<SimDevice> device;
    std::atomic<bool> plugged{true};
    std::atomic<std::uint64_t> plugGeneration{0};  // bumped on every unplug: stale handles fail
    std::atomic<std::uint64_t> enumeration{0};     // the bus's number of its plugging in
    // The schedule's pluggings in begun at its last look; nothing before its first.
    std::optional<std::size_t> scheduledArrivals;
    std::map<std::uint32_t, OpenHandle> handles;
    std::uint32_t nextHandle = 1;
    std::size_t opens = 0;
  };

  std::size_t SlotOf(const SimDevice& device) const;
  // The slot's device is plugged in, with a new number.
  void PluggedIn(Slot& slot);
  // Plugs the slot's device in or takes it out as its schedule says; true when that changed it.
  bool FollowSchedule(Slot& slot);
  // The driver's answer: its success flag and the bytes it reports returned.
  IoResult Answer(SimDevice& device, bool admitted, std::uint32_t code,
                  std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                  LoggedRequest& entry);

  std::vector<std::unique_ptr<Slot>> slots_;
  std::chrono::microseconds latency_{0};
  bool realTime_ = false;
  bool logEnabled_ = true;
  std::atomic<std::uint64_t> sequence_{0};
  std::atomic<std::uint64_t> enumerations_{0};
  mutable RequestLog merged_;
};

}  // namespace qv::sim
