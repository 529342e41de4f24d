#pragma once

#include "app/AppState.h"

namespace qv {

// Marks an operation that holds the one connection across the message pump (a flash operation
// or sequence, a register bank or I2C read) as running for its lifetime. Every handler opens and
// closes the connection, so one started from the message pump inside another would close the
// connection under it and leave the other's results stale without notice: such a click is
// ignored, and a polling tick leaves the connection alone meanwhile.
class DeviceActivity {
 public:
  explicit DeviceActivity(AppState& app) : app_(app), owner_(!app.DeviceActivityRunning) {
    app_.DeviceActivityRunning = 1;
  }
  DeviceActivity(const DeviceActivity&) = delete;
  DeviceActivity& operator=(const DeviceActivity&) = delete;
  ~DeviceActivity() {
    if (owner_) app_.DeviceActivityRunning = 0;
  }
  // False when another operation was already running: the caller returns at once.
  explicit operator bool() const { return owner_; }

 private:
  AppState& app_;
  bool owner_;
};

}  // namespace qv
