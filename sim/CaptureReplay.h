#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/DeviceInterfaces.h"
#include "platform/DeviceIo.h"
#include "sim/VirtualClock.h"

namespace qv::sim {

// A simulator setup of the form "replay=FILE" names a capture to answer from; a replay is a
// device of its own, so no other key may stand beside it.
struct ReplaySetup {
  std::string file;
  std::string error;  // "replay=" without a file, or with other keys; set when file is empty
};
// The replay a setup names; nullopt for every other setup.
std::optional<ReplaySetup> ParseReplaySetup(std::string_view setup);

// One I/O control request of a capture, as asked and as answered.
struct CapturedRequest {
  std::uint64_t number = 0;  // the request's place in the capture, from 1
  int device = 0;
  std::uint32_t code = 0;
  std::vector<std::uint8_t> input;
  std::vector<std::uint8_t> sent;  // a host-to-device data stage
  std::size_t size = 0;            // of the answer's buffer
  bool ok = false;
  bool gone = false;
  std::uint32_t returned = 0;
  std::vector<std::uint8_t> answer;
  std::chrono::microseconds took{0};
};

// A device, or several, that answer from a captured conversation (platform/ConversationCapture):
// discovery lists the paths the capture listed, listing by listing (the last one stays); each
// device's requests must be, one by one, the requests the capture holds for it, and get the
// captured answer, outcome and time. The first request that differs is refused as by a device
// that left, and so is every request after it, so that the run ends there; Mismatch() says which
// it was. A capture that ends early is a device that left: once asked past its end, the device
// is gone from the listings and opens no more.
class CaptureReplay final : public DeviceIo, public DeviceInterfaces {
 public:
  struct Loaded {
    std::unique_ptr<CaptureReplay> replay;
    std::string error;  // set when replay is empty
  };
  // Reads a whole capture; a file that is not one, of another version, or with a malformed line
  // is an error naming the line.
  static Loaded Load(const std::filesystem::path& path);
  CaptureReplay() = default;  // answers nothing until lines are loaded

  NativeHandle Open(const char* path) override;
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override;
  void Close(NativeHandle handle) override;
  std::optional<std::vector<std::string>> PresentPaths(const Guid& interfaceClass) override;
  std::string Arrival(const std::string& path) override;

  // The time of the devices, one after another: a pause passes on every device's clock, and the
  // time is the furthest any device has come.
  Clock& BusClock() { return busClock_; }
  // A host's wait while devices in `inUse` are at work on their own threads: the pause passes on
  // the bus and on every other device, never on a clock that another thread moves.
  void PassIdle(std::chrono::microseconds pause, const std::vector<std::string>& inUse);
  // Whether a listing is yet to come: a device may still arrive or leave.
  bool ListingsAhead() const;
  // One device's own clock, for devices worked side by side on their own threads; the bus's for
  // a path the capture never opened.
  Clock& ClockOf(const std::string& path);
  // The first request that differed from the capture, named with what each side held; empty
  // while every request has been the captured one.
  std::string Mismatch() const;
  // What the capture's first line says about where it was made.
  const std::string& Origin() const { return origin_; }

 private:
  struct Listing {
    std::optional<std::vector<std::string>> paths;
    std::map<std::string, std::string> arrivals;
  };
  struct Device {
    std::deque<bool> opens;  // each open's outcome
    std::deque<CapturedRequest> requests;
    VirtualClock clock;
    bool left = false;  // asked past its capture's end: no longer listed, opened or answered
  };
  class Bus final : public Clock {
   public:
    explicit Bus(CaptureReplay& replay) : replay_(replay) {}
    void Sleep(std::uint32_t milliseconds) override;
    std::chrono::microseconds Now() const override;

   private:
    CaptureReplay& replay_;
  };

  std::string LoadLines(std::istream& in);
  IoResult Refuse(std::string mismatch);  // with mutex_ held

  std::string origin_;
  struct Listings {
    std::deque<Listing> ahead;
    Listing last;
  };
  std::map<std::string, Listings> listings_;                // by class
  std::map<std::string, std::unique_ptr<Device>> devices_;  // by path; stable for their clocks
  std::map<NativeHandle, std::string> opened_;
  NativeHandle nextHandle_ = 1;
  mutable std::mutex mutex_;
  std::string mismatch_;
  VirtualClock idle_;  // the bus's own time: every pause, with or without devices
  Bus busClock_{*this};
};

}  // namespace qv::sim
