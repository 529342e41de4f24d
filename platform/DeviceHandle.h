#pragma once

#include <utility>

#include "platform/DeviceIo.h"

namespace qv {

// Owns one open device handle and closes it when it goes out of scope.
class DeviceHandle {
 public:
  DeviceHandle() = default;
  DeviceHandle(DeviceIo& io, NativeHandle handle) : io_(&io), handle_(handle) {}
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  DeviceHandle(DeviceHandle&& other) noexcept
      : io_(other.io_), handle_(std::exchange(other.handle_, kNoHandle)) {}
  DeviceHandle& operator=(DeviceHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      io_ = other.io_;
      handle_ = std::exchange(other.handle_, kNoHandle);
    }
    return *this;
  }
  ~DeviceHandle() { Reset(); }

  // A handle is held unless it is null or the invalid value of a failed open.
  bool Valid() const { return handle_ != kNoHandle && handle_ != kInvalidHandle; }
  NativeHandle Get() const { return handle_; }

  void Reset() {
    if (Valid()) io_->Close(handle_);
    handle_ = kNoHandle;
  }

 private:
  DeviceIo* io_ = nullptr;
  NativeHandle handle_ = kNoHandle;
};

}  // namespace qv
