#include "util/OutputTarget.h"

#include <climits>
#include <system_error>

#include "util/FilePaths.h"
#include "util/Text.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace qv {
namespace fs = std::filesystem;
namespace {

OutputTarget Refused(OutputTarget target, std::string why) {
  target.kind = OutputKind::kRefused;
  target.refusal = std::move(why);
  return target;
}

#ifndef _WIN32

bool SameInode(const struct stat& a, const fs::path& b) {
  struct stat other {};
  return ::stat(b.c_str(), &other) == 0 && a.st_dev == other.st_dev && a.st_ino == other.st_ino;
}

// The descriptor a link of this program's own in /proc names (/proc/self/fd/2, /dev/fd/2);
// -1 for any other link.
int HeldDescriptor(const fs::path& link) {
  struct stat folder {};
  if (::stat(FolderOf(link).c_str(), &folder) != 0) return -1;
  if (!SameInode(folder, "/proc/self/fd") && !SameInode(folder, "/proc/thread-self/fd")) return -1;
  const auto number = ParseUnsigned(link.filename().string(), 10, INT_MAX);
  return number ? static_cast<int>(*number) : -1;
}

#endif

}  // namespace

#ifdef _WIN32

OutputTarget FindOutputTarget(const fs::path& path) {
  OutputTarget target;
  target.path = FollowLinks(path).path;
  std::error_code error;
  const auto status = fs::status(target.path, error);
  if (fs::is_directory(status)) return Refused(std::move(target), "it is a directory");
  // A device or a pipe (NUL, \\.\pipe\...): nothing to replace.
  if (fs::exists(status) && !fs::is_regular_file(status)) target.kind = OutputKind::kStream;
  return target;
}

#else

OutputTarget FindOutputTarget(const fs::path& path) {
  FollowedPath followed = FollowLinks(path);
  OutputTarget target;
  target.path = std::move(followed.path);
  target.systemLink = followed.systemLink;
  if (!followed.refusal.empty()) return Refused(std::move(target), std::move(followed.refusal));
  if (target.systemLink) target.descriptor = HeldDescriptor(target.path);
  struct stat status {};
  // Nothing there: a new file, or a held descriptor that is not open, for the write to refuse.
  if (::stat(target.path.c_str(), &status) != 0) {
    if (target.descriptor >= 0) target.kind = OutputKind::kHeld;
    return target;
  }
  if (S_ISDIR(status.st_mode)) return Refused(std::move(target), "it is a directory");
  if (target.descriptor >= 0) {
    target.kind = OutputKind::kHeld;
  } else if (S_ISSOCK(status.st_mode)) {
    return Refused(std::move(target), "it is a socket, which cannot be opened by its name");
  } else if (S_ISREG(status.st_mode)) {
    if (target.systemLink) target.kind = OutputKind::kOpenFile;
  } else {
    target.kind = OutputKind::kStream;
  }
  return target;
}

OwnedFile OpenForWriting(const OutputTarget& target, int flags, std::string& why) {
  if (target.kind == OutputKind::kHeld) {
    const int status = ::fcntl(target.descriptor, F_GETFL);
    if (status < 0) {
      why = "it names no file this program has open";
    } else if ((status & O_ACCMODE) == O_RDONLY) {
      why = "this program has it open for reading only";
    } else {
      OwnedFile file(::fcntl(target.descriptor, F_DUPFD_CLOEXEC, 0));
      if (!file.Valid()) why = std::string("it cannot be written to: ") + std::strerror(errno);
      return file;
    }
    return {};
  }
  // Only a link in /proc is left to the system to follow: any other link there now was put
  // there since the path was followed.
  const int follow = target.systemLink ? 0 : O_NOFOLLOW;
  OwnedFile file(
      ::open(target.path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | follow | flags));
  if (!file.Valid()) {
    const int error = errno;
    struct stat status {};
    const bool fifo =
        error == ENXIO && ::stat(target.path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
    why = fifo ? "it is a FIFO nobody reads from"
               : std::string("it cannot be opened for writing: ") + std::strerror(error);
    return {};
  }
  // Written as any stream is: a full pipe or a slow device is waited for.
  const int status = ::fcntl(file.Get(), F_GETFL);
  if (status < 0 || ::fcntl(file.Get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
    why = std::string("it cannot be written to: ") + std::strerror(errno);
    return {};
  }
  // The type the decision was taken by, on the file opened: a regular file where a stream was
  // would be written over without being emptied.
  struct stat opened {};
  const bool regular = ::fstat(file.Get(), &opened) == 0 && S_ISREG(opened.st_mode);
  if (regular != (target.kind == OutputKind::kOpenFile)) {
    why = "it was changed while it was being opened";
    return {};
  }
  return file;
}

#endif

}  // namespace qv
