#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/libusb/LibusbContext.h"

struct libusb_device;

namespace qv::usb {

// Tells a wait that a USB device arrived or left, through libusb's hot-plug events where this
// libusb has them (it tells from its build and the system whether it has). libusb delivers the
// events while someone handles its events, so the object keeps a thread of its own doing that
// for as long as it lives.
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

 private:
  void Notify();

  libusb_context* context_;
  int handle_ = 0;
  bool registered_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool pending_ = false;
  std::atomic<bool> stop_{false};
  std::thread events_;
};

}  // namespace qv::usb
