#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// One device, one owner. A process that sends to a device holds a claim on it for as long as it
// works with it, through the operating system: an advisory lock (flock) on a lock file named for
// the device on Linux, a named mutex in the global namespace on Windows. The system drops a claim
// whose process died, so a crash never leaves a device locked; and a second program is refused
// before it sends anything, instead of interleaving its erase and program with the first one's.
namespace qv {

// Who holds a device, where it is known: the program's name and its process id.
struct DeviceHolder {
  std::string program;          // empty: not known
  std::uint64_t processId = 0;  // 0: not known
};

// "qvtool (process 4242)", "qvtool", or "another program".
std::string DescribeHolder(const DeviceHolder& holder);

// A claim on a device, released when it goes out of scope. Release it on the thread that made
// it: a Windows mutex belongs to the thread that took it.
class DeviceClaim {
 public:
  // What the system holds for the claim, different on each platform, let go of by its deleter.
  struct Handle;
  struct Releaser {
    void operator()(Handle* handle) const;
  };
  using OwnedHandle = std::unique_ptr<Handle, Releaser>;

  DeviceClaim() = default;
  explicit DeviceClaim(OwnedHandle handle) : handle_(std::move(handle)) {}

  bool Held() const { return handle_ != nullptr; }
  void Release() { handle_.reset(); }

 private:
  OwnedHandle handle_;
};

struct ClaimResult {
  DeviceClaim claim;    // held when the device is now this process's
  bool inUse = false;   // another owner holds it (in this process too)
  DeviceHolder holder;  // who, with inUse
  std::string error;    // no claim could be made at all (no lock folder), with why

  static ClaimResult Held(DeviceClaim claim);
  static ClaimResult InUse(DeviceHolder holder);
  static ClaimResult Failed(std::string error);
};

// Claims the device `key` names (an interface path, or a simulated device's flash file) for
// `program`. Never blocks: a device another owner holds is refused at once.
ClaimResult ClaimDevice(std::string_view key, std::string_view program);

// The name of the claim's lock for `key`: readable, free of path separators, and the same for
// every spelling of one key that the system treats as one (case on Windows).
std::string ClaimName(std::string_view key);

}  // namespace qv
