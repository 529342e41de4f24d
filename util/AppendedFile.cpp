#include "util/AppendedFile.h"

#include <system_error>

#include "util/FilePaths.h"
#include "util/OwnedFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace qv {

#ifdef _WIN32

struct AppendedFile::Handle {
  OwnedFile owned;
  bool Open(const std::filesystem::path& path) {
    // FILE_APPEND_DATA alone: every write goes to the end, as another writer's would.
    owned = OwnedFile(CreateFileW(path.wstring().c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                  FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    return owned.Valid();
  }
  bool EndsWithoutLineEnd() {
    const HANDLE file = owned.Get();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart == 0) return false;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    char last = '\n';
    DWORD got = 0;
    return ReadFile(file, &last, 1, &got, &at) && got == 1 && last != '\n';
  }
  bool Write(std::string_view text) {
    const HANDLE file = owned.Get();
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size() && FlushFileBuffers(file);
  }
  static std::string LastError() {
    return std::system_category().message(static_cast<int>(GetLastError()));
  }
};

#else

struct AppendedFile::Handle {
  OwnedFile owned;
  bool Open(const std::filesystem::path& path) {
    owned = OwnedFile(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    return owned.Valid();
  }
  bool EndsWithoutLineEnd() {
    const int fd = owned.Get();
    const off_t size = ::lseek(fd, 0, SEEK_END);
    char last = '\n';
    return size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n';
  }
  bool Write(std::string_view text) {
    // One write for the whole line: a signal cannot end the program between two of its parts.
    const int fd = owned.Get();
    ssize_t written;
    do {
      written = ::write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  }
  static std::string LastError() { return std::strerror(errno); }
};

#endif

AppendedFile::AppendedFile(const std::filesystem::path& path)
    : handle_(std::make_unique<Handle>()), path_(path) {
  if (!handle_->Open(path)) {
    error_ = "cannot open " + QuotedPath(path) + " to add to it: " + Handle::LastError();
    handle_.reset();
    return;
  }
  if (handle_->EndsWithoutLineEnd() && !handle_->Write("\n"))
    error_ = "cannot write " + QuotedPath(path) + ": " + Handle::LastError();
}

AppendedFile::~AppendedFile() = default;

bool AppendedFile::Ready() const {
  return handle_ != nullptr && error_.empty();
}

bool AppendedFile::Append(std::string_view line) {
  if (!Ready()) return false;
  std::string text(line);
  text += '\n';
  if (handle_->Write(text)) return true;
  error_ = "cannot write " + QuotedPath(path_) + ": " + Handle::LastError();
  return false;
}

}  // namespace qv
