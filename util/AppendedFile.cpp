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
  std::filesystem::path path;
  // Why the file cannot be opened; empty when it is.
  std::string Open(const std::filesystem::path& where) {
    path = where;
    // FILE_APPEND_DATA alone: every write goes to the end, as another writer's would, and a file
    // that may only be added to can be opened.
    owned = OwnedFile(CreateFileW(path.wstring().c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    return owned.Valid() ? std::string() : LastError(GetLastError());
  }
  // Read through a handle of its own; a file that cannot be read is taken as it is.
  bool EndsWithoutLineEnd() {
    const OwnedFile reader(CreateFileW(path.wstring().c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!reader.Valid()) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(reader.Get(), &size) || size.QuadPart == 0) return false;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    char last = '\n';
    DWORD got = 0;
    return ReadFile(reader.Get(), &last, 1, &got, &at) && got == 1 && last != '\n';
  }
  // Empty when the whole text was written and flushed; else why not, from the failing call.
  std::string Write(std::string_view text) {
    const HANDLE file = owned.Get();
    DWORD written = 0;
    if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
      return LastError(GetLastError());
    if (written != text.size()) return "the disk took only part of the line";
    // A device or a pipe has nothing to flush.
    if (GetFileType(file) == FILE_TYPE_DISK && !FlushFileBuffers(file))
      return LastError(GetLastError());
    return {};
  }
  static std::string LastError(DWORD error) {
    return std::system_category().message(static_cast<int>(error));
  }
};

#else

struct AppendedFile::Handle {
  OwnedFile owned;
  bool regular = false;  // a device or a pipe has nothing to sync, and no last line to mend
  std::filesystem::path path;
  // Why the file cannot be opened; empty when it is. Where it leads and what it is are decided
  // as for every file written (OutputTarget): a device or a FIFO is written straight through, a
  // FIFO nobody reads from is refused rather than waited for. Opened for appending only, never
  // for reading: a file the system lets only be added to (chattr +a) is a record too.
  std::string Open(const std::filesystem::path& where) {
    const OutputTarget target = FindOutputTarget(where);
    path = target.path;
    std::string why = target.refusal;
    if (target.kind == OutputKind::kFile) {
      owned = OwnedFile(::open(target.path.c_str(),
                               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                               0644));
      if (!owned.Valid()) why = LastError(errno);
    } else if (target.kind != OutputKind::kRefused) {
      owned = OpenForWriting(target, O_APPEND, why);
    }
    struct stat status {};
    regular = owned.Valid() && ::fstat(owned.Get(), &status) == 0 && S_ISREG(status.st_mode);
    return why;
  }
  // Read through a descriptor of its own, on the very file opened; a file that cannot be read
  // (written by one user, read by another) is taken as it is.
  bool EndsWithoutLineEnd() {
    if (!regular) return false;
    const OwnedFile reader(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    struct stat written {
    }, read{};
    if (!reader.Valid() || ::fstat(owned.Get(), &written) != 0 ||
        ::fstat(reader.Get(), &read) != 0 || written.st_dev != read.st_dev ||
        written.st_ino != read.st_ino || read.st_size == 0)
      return false;
    char last = '\n';
    return ::pread(reader.Get(), &last, 1, read.st_size - 1) == 1 && last != '\n';
  }
  // Empty when the whole text was written (and synced, for a file on disk); else why not, in the
  // words of the call that failed. A part written before the failure (a disk that filled up
  // within the line) is cut off again, so the file holds whole lines only.
  std::string Write(std::string_view text) {
    const int fd = owned.Get();
    struct stat before {};
    if (regular && ::fstat(fd, &before) != 0) return LastError(errno);
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        // What the write met, taken before anything else can change errno; a write that took
        // nothing and said nothing is a full disk.
        const int error = written < 0 ? errno : ENOSPC;
        if (done > 0 && regular) CutBack(before.st_size, done);
        return LastError(error);
      }
      done += static_cast<std::size_t>(written);
    }
    if (regular && ::fsync(fd) != 0) return LastError(errno);
    return {};
  }
  // Takes the file back to `size` when nothing but this line's `part` was added since.
  void CutBack(off_t size, std::size_t part) {
    struct stat now {};
    if (::fstat(owned.Get(), &now) == 0 && now.st_size == size + static_cast<off_t>(part))
      (void)::ftruncate(owned.Get(), size);
  }
  static std::string LastError(int error) { return std::strerror(error); }
};

#endif

AppendedFile::AppendedFile(const std::filesystem::path& path)
    : handle_(std::make_unique<Handle>()), path_(path) {
  if (const std::string why = handle_->Open(path); !why.empty()) {
    error_ = "cannot open " + QuotedPath(path) + " to add to it: " + why;
    handle_.reset();
    return;
  }
  if (handle_->EndsWithoutLineEnd())
    if (const std::string why = handle_->Write("\n"); !why.empty())
      error_ = "cannot write " + QuotedPath(path) + ": " + why;
}

AppendedFile::~AppendedFile() = default;

bool AppendedFile::Ready() const {
  return handle_ != nullptr && error_.empty();
}

bool AppendedFile::Append(std::string_view line) {
  if (!Ready()) return false;
  std::string text(line);
  text += '\n';
  const std::string why = handle_->Write(text);
  if (why.empty()) return true;
  error_ = "cannot write " + QuotedPath(path_) + ": " + why;
  return false;
}

}  // namespace qv
