#include "platform/libusb/LibusbHotplug.h"

#include <libusb.h>

namespace qv::usb {

LibusbHotplug::LibusbHotplug(const LibusbContext& context) : context_(context.Get()) {
  if (!context_ || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return;
  const auto callback = [](libusb_context*, libusb_device*, libusb_hotplug_event,
                           void* self) -> int {
    static_cast<LibusbHotplug*>(self)->Notify();
    return 0;  // stay registered
  };
  libusb_hotplug_callback_handle handle = 0;
  registered_ = libusb_hotplug_register_callback(
                    context_,
                    static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                      LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                    LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                    LIBUSB_HOTPLUG_MATCH_ANY, callback, this, &handle) == LIBUSB_SUCCESS;
  if (!registered_) return;
  handle_ = handle;
  events_ = std::thread([this] {
    // A tenth of a second at most in each call, so that the end of the object is seen soon.
    while (!stop_) {
      timeval most{0, 100'000};
      libusb_handle_events_timeout_completed(context_, &most, nullptr);
    }
  });
}

LibusbHotplug::~LibusbHotplug() {
  if (!registered_) return;
  stop_ = true;
  // Deregistering wakes the event thread's call.
  libusb_hotplug_deregister_callback(context_, handle_);
  events_.join();
}

void LibusbHotplug::Notify() {
  {
    std::lock_guard lock(mutex_);
    pending_ = true;
  }
  changed_.notify_all();
}

bool LibusbHotplug::Wait(std::chrono::milliseconds most) {
  std::unique_lock lock(mutex_);
  const bool changed = changed_.wait_for(lock, most, [this] { return pending_; });
  pending_ = false;
  return changed;
}

}  // namespace qv::usb
