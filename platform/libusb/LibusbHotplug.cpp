#include "platform/libusb/LibusbHotplug.h"

#include <libusb.h>

namespace qv::usb {

LibusbHotplug::LibusbHotplug(const LibusbContext& context) : context_(context.Get()) {
  if (!context_ || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return;
  const auto callback = [](libusb_context*, libusb_device* device, libusb_hotplug_event event,
                           void* self) -> int {
    auto& hotplug = *static_cast<LibusbHotplug*>(self);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) hotplug.Arrived(device);
    hotplug.Notify();
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
  // What was there before the events began: no arrival of theirs is counted.
  {
    std::lock_guard lock(mutex_);
    for (const PresentUsbDevice& device : context.PresentDevices())
      before_[device.place] = device.address;
  }
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

void LibusbHotplug::Arrived(libusb_device* device) {
  const std::vector<std::uint8_t> place = PlaceOf(device);
  const std::uint8_t address = libusb_get_device_address(device);
  std::lock_guard lock(mutex_);
  // Told late for a device that was listed before the events began: the same plugging in.
  if (const auto it = before_.find(place); it != before_.end() && it->second == address) return;
  before_.erase(place);
  Arrivals& arrivals = arrivals_[place];
  ++arrivals.count;
  arrivals.address = address;
}

std::optional<std::string> LibusbHotplug::ArrivalOf(const std::vector<std::uint8_t>& place,
                                                    std::uint8_t address) {
  const std::string text = "address " + std::to_string(address);
  std::lock_guard lock(mutex_);
  if (const auto it = arrivals_.find(place); it != arrivals_.end() && it->second.address == address)
    return text + ", arrival " + std::to_string(it->second.count);
  if (const auto it = before_.find(place); it != before_.end() && it->second == address)
    return text;
  return std::nullopt;
}

bool LibusbHotplug::Wait(std::chrono::milliseconds most) {
  std::unique_lock lock(mutex_);
  const bool changed = changed_.wait_for(lock, most, [this] { return pending_; });
  pending_ = false;
  return changed;
}

}  // namespace qv::usb
