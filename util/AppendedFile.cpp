#include "util/AppendedFile.h"

#include <system_error>

#include "util/FilePaths.h"
#include "util/OutputTarget.h"
#include "util/OwnedFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace qv {

#ifdef _WIN32

struct AppendedFile::Handle {
  OwnedFile owned;
  // Why the file cannot be opened; empty when it is.
  std::string Open(const std::filesystem::path& path) {
    // FILE_APPEND_DATA alone: every write goes to the end, as another writer's would.
    owned = OwnedFile(CreateFileW(path.wstring().c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                  FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    return owned.Valid() ? std::string() : LastError();
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
  bool regular = false;  // a device or a pipe has nothing to sync, and no last line to mend
  // Why the file cannot be opened; empty when it is. Where it leads and what it is are decided
  // as for every file written (OutputTarget): a device or a FIFO is written straight through, a
  // FIFO nobody reads from is refused rather than waited for.
  std::string Open(const std::filesystem::path& path) {
    const OutputTarget target = FindOutputTarget(path);
    std::string why = target.refusal;
    if (target.kind == OutputKind::kFile) {
      owned =
          OwnedFile(::open(target.path.c_str(),
                           O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644));
      if (!owned.Valid()) why = LastError();
    } else if (target.kind != OutputKind::kRefused) {
      owned = OpenForWriting(target, O_APPEND, why);
    }
    struct stat status {};
    regular = owned.Valid() && ::fstat(owned.Get(), &status) == 0 && S_ISREG(status.st_mode);
    return why;
  }
  bool EndsWithoutLineEnd() {
    if (!regular) return false;
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
    return written == static_cast<ssize_t>(text.size()) && (!regular || ::fsync(fd) == 0);
  }
  static std::string LastError() { return std::strerror(errno); }
};

#endif

AppendedFile::AppendedFile(const std::filesystem::path& path)
    : handle_(std::make_unique<Handle>()), path_(path) {
  if (const std::string why = handle_->Open(path); !why.empty()) {
    error_ = "cannot open " + QuotedPath(path) + " to add to it: " + why;
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
