#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/DeviceOwner.h"

namespace qv {

// What a process claims to own the device at an interface path (platform/DeviceOwner.h): the
// path itself for a real device, the flash file for a simulated one. Empty when no other process
// can reach the device, so that no claim is needed.
using ClaimKeyFor = std::function<std::string(std::string_view path)>;

// The window's claims on the devices it sends to. Another program (qvtool, a second window) that
// erased or programmed the same device in between would leave a flash that verifies for neither,
// so the window sends nothing to a device another owner holds. Claims are made and released on
// the window's thread, which a Windows claim requires.
class DeviceOwnership {
 public:
  // Nothing to claim: devices no other process can reach (the window's tests on a bus of their
  // own).
  DeviceOwnership() = default;
  // Claims in the name of `program` (the holder another program's refusal names).
  DeviceOwnership(ClaimKeyFor keyFor, std::string program);

  // True when the window may send to the device at `path`: its claim is held (taken now if it was
  // not yet), or the device needs none. False when another owner holds it or no claim could be
  // made; LastRefusal() tells which.
  bool Own(std::string_view path);
  const ClaimResult& LastRefusal() const { return refusal_; }
  // Lets go of every device: another program may take them now.
  void ReleaseAll() { claims_.clear(); }

 private:
  ClaimKeyFor keyFor_;
  std::string program_;
  std::map<std::string, DeviceClaim, std::less<>> claims_;  // by claim key
  ClaimResult refusal_;
};

}  // namespace qv
