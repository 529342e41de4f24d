#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/libusb/LibusbContext.h"

struct libusb_device;

namespace qv::usb {

// Tells a wait that a USB device arrived or left, through libusb's hot-plug events where this
// libusb has them (it tells from its build and the system whether it has). libusb delivers the
// events while someone handles its events, so the object keeps a thread of its own doing that
// for as long as it lives.
//
// It also counts the arrivals at each place on the bus, so that a device plugged in again between
// two looks is a new arrival even where the bus gave it the address it had before.
class LibusbHotplug {
 public:
  explicit LibusbHotplug(const LibusbContext& context);
  ~LibusbHotplug();
  LibusbHotplug(const LibusbHotplug&) = delete;
  LibusbHotplug& operator=(const LibusbHotplug&) = delete;

  // Whether events come at all; without them the caller looks for itself.
  bool Available() const { return registered_; }
  // Waits up to `most` for a device to arrive or leave; true when one did.
  bool Wait(std::chrono::milliseconds most);

  // What tells the device listed at `place` with `address` from another plugging in there:
  // "address A" for one that was there when the events began, "address A, arrival N" for the
  // N-th arrival at that place since. Nothing for a device whose arrival has not been told yet
  // (libusb lists a device before it delivers its event): it is looked at once it has.
  std::optional<std::string> ArrivalOf(const std::vector<std::uint8_t>& place,
                                       std::uint8_t address);

 private:
  struct Arrivals {
    std::uint64_t count = 0;
    std::uint8_t address = 0;  // of the last
  };
  void Notify();
  void Arrived(libusb_device* device);

  libusb_context* context_;
  int handle_ = 0;
  bool registered_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool pending_ = false;
  std::map<std::vector<std::uint8_t>, std::uint8_t> before_;  // address by place, at the start
  std::map<std::vector<std::uint8_t>, Arrivals> arrivals_;    // by place, since
  std::atomic<bool> stop_{false};
  std::thread events_;
};

}  // namespace qv::usb
