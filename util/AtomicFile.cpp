#include "util/AtomicFile.h"

#include <random>
#include <system_error>

#include "util/FilePaths.h"
#include "util/OutputTarget.h"
#include "util/OwnedFile.h"
#include "util/Text.h"

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
namespace fs = std::filesystem;
namespace {

// Beside the target, so that the rename stays within one file system and is atomic. 64 random
// bits: no other program can foresee the name to put something in its place first, and two
// writers of one file never share one; a name that is taken all the same is drawn again.
fs::path TemporaryName(const fs::path& target) {
  std::random_device random;
  const std::uint64_t bits = (std::uint64_t{random()} << 32) | random();
  fs::path name = target.filename();
  name += ".tmp" + FormatHex(bits, 16);
  return name;
}
constexpr int kTemporaryNameDraws = 16;

std::string Failure(const fs::path& path, const std::string& why) {
  return "cannot write " + QuotedPath(path) + ": " + why;
}

#ifdef _WIN32

bool WriteAll(HANDLE file, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes = bytes.subspan(written);
  }
  return true;
}

std::string LastError() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

// Why a new file cannot be made in the target's folder.
std::string FolderProblem(const fs::path& target) {
  std::error_code ignored;
  return fs::is_directory(FolderOf(target), ignored) ? "the file cannot be created"
                                                     : "its folder does not exist";
}

// A new file beside the target, under a name of its own; `flags` added to its attributes.
OwnedFile CreateTemporary(const fs::path& target, DWORD flags, std::wstring& name) {
  for (int i = 0; i < kTemporaryNameDraws; ++i) {
    name = (FolderOf(target) / TemporaryName(target)).wstring();
    OwnedFile file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | flags, nullptr));
    if (file.Valid() || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return {};
}

std::string Replace(const fs::path& target, std::span<const char> bytes) {
  std::wstring temporary;
  OwnedFile file = CreateTemporary(target, 0, temporary);
  if (!file.Valid()) return FolderProblem(target);
  // Flushed to the disk before the rename, so a power cut cannot leave a renamed empty file.
  const bool written = WriteAll(file.Get(), bytes) && FlushFileBuffers(file.Get()) != FALSE;
  std::string why = written ? std::string() : LastError();
  if (!file.Close() && written) why = LastError();
  if (!why.empty()) {
    DeleteFileW(temporary.c_str());
    return "writing failed: " + why;
  }
  if (!MoveFileExW(temporary.c_str(), target.wstring().c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const std::string why = LastError();
    DeleteFileW(temporary.c_str());
    return why;
  }
  return {};
}

std::string WriteThrough(const OutputTarget& target, std::span<const char> bytes) {
  OwnedFile file(CreateFileW(target.path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return "it cannot be opened for writing";
  return WriteAll(file.Get(), bytes) ? std::string() : "writing failed: " + LastError();
}

std::string CheckReplace(const fs::path& target) {
  std::wstring temporary;
  return CreateTemporary(target, FILE_FLAG_DELETE_ON_CLOSE, temporary).Valid()
             ? std::string()
             : FolderProblem(target);
}

std::string CheckWriteThrough(const OutputTarget&) {
  return {};  // devices are opened when written; nothing can be asked of them before
}

#else

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

std::string WriteAll(int fd, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return Errno("writing failed");
    if (written == 0) return "writing failed: nothing more was taken";
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return {};
}

// The folder the file is replaced in, open: the new file is made and renamed there whatever
// happens to its path meanwhile, and the rename is synced through it.
OwnedFile OpenFolder(const fs::path& target, std::string& why) {
  OwnedFile folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.Valid()) {
    why = errno == ENOENT || errno == ENOTDIR
              ? "its folder does not exist"
              : Errno("its folder cannot be opened, to sync the new file into it");
  }
  return folder;
}

// The temporary file: removed unless it was renamed into place.
class Temporary {
 public:
  Temporary(int folder, const fs::path& target, mode_t mode, std::string& why) : folder_(folder) {
    for (int i = 0; i < kTemporaryNameDraws && !file_.Valid(); ++i) {
      name_ = TemporaryName(target).string();
      file_ = OwnedFile(::openat(folder, name_.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode));
      if (!file_.Valid() && errno != EEXIST) break;
    }
    if (!file_.Valid()) {
      why = Errno("the file cannot be created");
      name_.clear();
    }
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
  }
  bool Valid() const { return file_.Valid(); }
  int Get() const { return file_.Get(); }
  bool Close() { return file_.Close(); }
  std::string RenameTo(const fs::path& target) {
    if (::renameat(folder_, name_.c_str(), folder_, target.filename().c_str()) != 0)
      return Errno("it cannot be put in place");
    name_.clear();
    return {};
  }

 private:
  int folder_;
  std::string name_;
  OwnedFile file_;
};

// The old file's owner, group and permissions on the new one, so that replacing a file changes
// only its contents: a 0600 backup stays private, a user's file written under sudo stays the
// user's. The kernel lets only a privileged caller give a file to another user: refused that,
// the file becomes the caller's, with the old group where the caller is in it; with any other
// group, that group gets no more than everybody else had. Set-user and set-group bits are not
// carried over, as the kernel drops them when a file's contents are written.
std::string KeepOwnerAndMode(int fd, const struct stat& old) {
  const auto refused = [] { return errno == EPERM || errno == EINVAL; };
  mode_t mode = old.st_mode & 0777;
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    if (!refused()) return Errno("its owner cannot be kept");
    if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
      if (!refused()) return Errno("its group cannot be kept");
      mode = (mode & ~mode_t{070}) | (mode & (mode << 3) & 070);
    }
  }
  return ::fchmod(fd, mode) == 0 ? std::string() : Errno("its permissions cannot be kept");
}

std::string Replace(const fs::path& target, std::span<const char> bytes) {
  std::string why;
  OwnedFile folder = OpenFolder(target, why);
  if (!folder.Valid()) return why;
  struct stat old {};
  const bool replaces =
      ::fstatat(folder.Get(), target.filename().c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(old.st_mode);
  // The caller's alone until it has the old file's owner and mode; a new file as ever.
  Temporary temporary(folder.Get(), target, replaces ? 0600 : 0644, why);
  if (!temporary.Valid()) return why;
  why = WriteAll(temporary.Get(), bytes);
  if (why.empty() && replaces) why = KeepOwnerAndMode(temporary.Get(), old);
  // Synced before the rename, so a power cut cannot leave a renamed file with nothing in it.
  if (why.empty() && ::fsync(temporary.Get()) != 0) why = Errno("writing failed");
  if (!temporary.Close() && why.empty()) why = Errno("writing failed");
  if (why.empty()) why = temporary.RenameTo(target);
  if (!why.empty()) return why;
  // The rename reaches the disk with the folder. Some file systems have no way to sync a folder
  // and answer EINVAL or ENOTSUP (some FUSE and network ones): what they do with a folder is as
  // lasting as they make it, there is nothing to sync, and that is no failure.
  if (::fsync(folder.Get()) != 0 && errno != EINVAL && errno != ENOTSUP)
    return Errno("it was replaced, but its folder could not be synced") +
           "; the new file may not survive a power cut";
  return {};
}

// Through a descriptor, and synced when it leads to a regular file; a device or a pipe has
// nothing to sync.
std::string WriteAndSync(int fd, std::span<const char> bytes) {
  if (std::string why = WriteAll(fd, bytes); !why.empty()) return why;
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ::fsync(fd) != 0)
    return Errno("writing failed");
  return {};
}

std::string WriteThrough(const OutputTarget& target, std::span<const char> bytes) {
  std::string why;
  const int flags = target.kind == OutputKind::kOpenFile ? O_TRUNC : 0;
  OwnedFile file = OpenForWriting(target, flags, why);
  if (!file.Valid()) return why;
  why = WriteAndSync(file.Get(), bytes);
  if (!file.Close() && why.empty()) why = Errno("writing failed");
  return why;
}

std::string CheckReplace(const fs::path& target) {
  std::string why;
  OwnedFile folder = OpenFolder(target, why);
  if (folder.Valid()) {
    const Temporary probe(folder.Get(), target, 0600, why);
  }
  return why;
}

std::string CheckWriteThrough(const OutputTarget& target) {
  std::string why;
  if (target.kind == OutputKind::kHeld) {
    const OwnedFile copy = OpenForWriting(target, 0, why);
    return why;
  }
  // Not opened: a FIFO's reader would take the open and close for the end of what it reads.
  // Whether a FIFO has a reader is known only when it is written.
  return ::access(target.path.c_str(), W_OK) == 0 ? std::string() : Errno("it takes no writes");
}

#endif

// What a write to `path` meets decides what is done: a refusal, a file replaced, or a device or
// FIFO written through. The writer and its check take the one decision, each with its own actions.
template <typename OnFile, typename OnStream>
std::string ByTarget(const fs::path& path, OnFile onFile, OnStream onStream) {
  const OutputTarget target = FindOutputTarget(path);
  const std::string why = target.kind == OutputKind::kRefused ? target.refusal
                          : target.kind == OutputKind::kFile  ? onFile(target.path)
                                                              : onStream(target);
  return why.empty() ? why : Failure(path, why);
}

}  // namespace

std::string WriteFileAtomically(const fs::path& path, std::span<const char> bytes) {
  return ByTarget(
      path, [&](const fs::path& file) { return Replace(file, bytes); },
      [&](const OutputTarget& target) { return WriteThrough(target, bytes); });
}

std::string CheckWritable(const fs::path& path) {
  return ByTarget(
      path, [](const fs::path& file) { return CheckReplace(file); },
      [](const OutputTarget& target) { return CheckWriteThrough(target); });
}

}  // namespace qv
