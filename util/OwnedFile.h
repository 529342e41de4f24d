#pragma once

// An open file of the operating system, closed when it goes out of scope: a HANDLE on Windows,
// a descriptor elsewhere.

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qv {

class OwnedFile {
 public:
#ifdef _WIN32
  using Native = HANDLE;
  static Native Invalid() {
    return INVALID_HANDLE_VALUE;
  }
#else
  using Native = int;
  static Native Invalid() {
    return -1;
  }
#endif

  OwnedFile() = default;
  explicit OwnedFile(Native file) : file_(file) {}
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  OwnedFile(OwnedFile&& other) noexcept : file_(std::exchange(other.file_, Invalid())) {}
  OwnedFile& operator=(OwnedFile&& other) noexcept {
    if (this != &other) {
      Close();
      file_ = std::exchange(other.file_, Invalid());
    }
    return *this;
  }
  ~OwnedFile() {
    Close();
  }

  bool Valid() const {
    return file_ != Invalid();
  }
  Native Get() const {
    return file_;
  }
  // False when closing failed: on some file systems the last write's error only shows here.
  bool Close() {
    if (!Valid()) return true;
#ifdef _WIN32
    const bool closed = CloseHandle(file_) != FALSE;
#else
    const bool closed = ::close(file_) == 0;
#endif
    file_ = Invalid();
    return closed;
  }

 private:
  Native file_ = Invalid();
};

}  // namespace qv
