#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/DeviceOwner.h"
#include "util/OwnedFile.h"

namespace qv {

struct DeviceClaim::Handle {
  OwnedFile lock;
};

void DeviceClaim::Releaser::operator()(Handle* handle) const {
  const std::unique_ptr<Handle> owned(handle);
  // The holder's name goes first, so that nobody is named as holding a device it let go; closing
  // the last descriptor drops the lock. The file stays: removing it would let a process that
  // opened it a moment ago lock a file nobody else can find any more.
  const int ignored = ftruncate(owned->lock.Get(), 0);
  (void)ignored;
}

namespace {

// The folders a lock may live in, the first that exists wins: the system's lock folder, which
// every user shares; the user's run-time folder; the temporary folder. QV_LOCK_DIR puts the
// locks elsewhere, for tests that run side by side on one emulated bus.
std::vector<std::filesystem::path> LockFolders() {
  std::vector<std::filesystem::path> folders;
  if (const char* dir = std::getenv("QV_LOCK_DIR"); dir && *dir) return {dir};
  folders.emplace_back("/run/lock");
  if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) folders.emplace_back(dir);
  std::error_code error;
  if (auto temp = std::filesystem::temp_directory_path(error); !error) folders.push_back(temp);
  return folders;
}

DeviceHolder ReadHolder(int file) {
  char text[256] = {};
  const ssize_t got = pread(file, text, sizeof text - 1, 0);
  if (got <= 0) return {};
  std::string line(text, static_cast<std::size_t>(got));
  line = line.substr(0, line.find('\n'));
  const auto space = line.rfind(' ');
  if (space == std::string::npos) return {.program = line};
  DeviceHolder holder{.program = line.substr(0, space)};
  holder.processId = std::strtoull(line.c_str() + space + 1, nullptr, 10);
  return holder;
}

}  // namespace

ClaimResult ClaimDevice(std::string_view key, std::string_view program) {
  const std::string name = "qvupdate-" + ClaimName(key) + ".lock";
  std::string tried;
  for (const std::filesystem::path& folder : LockFolders()) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) continue;
    const std::filesystem::path path = folder / name;
    // Never through a link: in a folder everybody writes to, a planted link would make this
    // process create or lock another file.
    OwnedFile file(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file.Valid() && errno == EACCES)  // another user's lock file: reading it is enough
      file = OwnedFile(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.Valid()) {
      tried += (tried.empty() ? "" : "; ") + path.string() + ": " + std::strerror(errno);
      continue;
    }
    // Whatever this user's umask, other users must be able to open the lock to be refused by it.
    struct stat st {};
    if (fstat(file.Get(), &st) == 0 && st.st_uid == geteuid()) fchmod(file.Get(), 0644);
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) {
        tried += (tried.empty() ? "" : "; ") + path.string() + ": " + std::strerror(errno);
        continue;
      }
      return ClaimResult::InUse(ReadHolder(file.Get()));
    }
    const std::string line =
        std::string(program) + " " + std::to_string(static_cast<unsigned long>(getpid())) + "\n";
    if (ftruncate(file.Get(), 0) == 0) {
      const ssize_t ignored = pwrite(file.Get(), line.data(), line.size(), 0);
      (void)ignored;  // the name only helps the message of a refused second owner
    }
    auto handle = std::make_unique<DeviceClaim::Handle>();
    handle->lock = std::move(file);
    return ClaimResult::Held(DeviceClaim(DeviceClaim::OwnedHandle(handle.release())));
  }
  return ClaimResult::Failed("no lock for the device could be made (" +
                             (tried.empty() ? std::string("no lock folder exists") : tried) + ")");
}

}  // namespace qv
