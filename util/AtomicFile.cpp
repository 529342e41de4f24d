#include "util/AtomicFile.h"

#include <random>
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
namespace fs = std::filesystem;
namespace {

// Beside the target, so that the rename stays within one file system and is atomic. The random
// part keeps two writers of one file from sharing a temporary file.
fs::path TemporaryPathFor(const fs::path& path) {
  fs::path temporary = path;
  temporary += ".tmp" + std::to_string(std::random_device{}() % 1000000);
  return temporary;
}

std::string Failure(const fs::path& path, const std::string& why) {
  return "cannot write '" + path.string() + "': " + why;
}

// A path of the system's own device and process trees (/dev/stdout, /proc/self/fd/1): it names
// a stream that is already open, whatever it reaches, and is written straight through. Nothing
// is ever replaced there.
bool StreamAlias(const fs::path& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  const std::string text = fs::absolute(path).lexically_normal().string();
  return text.starts_with("/dev/") || text.starts_with("/proc/");
#endif
}

// Where the temporary file goes: beside the file a link leads to, not beside the link.
fs::path Target(const fs::path& path, const fs::file_status& status) {
  std::error_code error;
  if (fs::exists(status)) {
    const fs::path real = fs::canonical(path, error);
    if (!error) return real;
  }
  return FollowLinks(path);
}

fs::path FolderOf(const fs::path& path) {
  return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

// Why a new file cannot be made in the target's folder.
std::string FolderProblem(const fs::path& target) {
  std::error_code ignored;
  return fs::is_directory(FolderOf(target), ignored) ? "the file cannot be created"
                                                     : "its folder does not exist";
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

std::string WriteNew(const fs::path& target, const fs::path& temporary,
                     std::span<const char> bytes) {
  OwnedFile file(CreateFileW(temporary.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return FolderProblem(target);
  // Flushed to the disk before the rename, so a power cut cannot leave a renamed empty file.
  const bool written = WriteAll(file.Get(), bytes) && FlushFileBuffers(file.Get()) != FALSE;
  if (!file.Close() || !written) {
    DeleteFileW(temporary.wstring().c_str());
    return "writing failed (is the disk full?)";
  }
  if (!MoveFileExW(temporary.wstring().c_str(), target.wstring().c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.wstring().c_str());
    return std::system_category().message(static_cast<int>(GetLastError()));
  }
  return {};
}

std::string WriteThrough(const fs::path& target, std::span<const char> bytes) {
  OwnedFile file(CreateFileW(target.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return "it cannot be opened for writing";
  return WriteAll(file.Get(), bytes) ? std::string() : "writing failed";
}

bool Creatable(const fs::path& temporary) {
  OwnedFile file(CreateFileW(temporary.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return file.Valid();
}

bool Writable(const fs::path&) {
  return true;  // devices are opened when written; nothing can be asked of them before
}

#else

bool WriteAll(int fd, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

std::string WriteNew(const fs::path& target, const fs::path& temporary,
                     std::span<const char> bytes) {
  OwnedFile file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!file.Valid()) return FolderProblem(target);
  // Synced before the rename, so a power cut cannot leave a renamed file with nothing in it.
  const bool written = WriteAll(file.Get(), bytes) && ::fsync(file.Get()) == 0;
  if (!file.Close() || !written) {
    ::unlink(temporary.c_str());
    return "writing failed (is the disk full?)";
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(temporary.c_str());
    return why;
  }
  // The rename itself reaches the disk with the folder.
  OwnedFile folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Valid()) ::fsync(folder.Get());
  return {};
}

std::string WriteThrough(const fs::path& target, std::span<const char> bytes) {
  OwnedFile file(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
  if (!file.Valid()) return std::string("it cannot be opened for writing: ") + std::strerror(errno);
  return WriteAll(file.Get(), bytes) ? std::string() : "writing failed";
}

bool Creatable(const fs::path& temporary) {
  OwnedFile file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!file.Valid()) return false;
  ::unlink(temporary.c_str());
  return true;
}

bool Writable(const fs::path& target) {
  return ::access(target.c_str(), W_OK) == 0;
}

#endif

}  // namespace

std::string WriteFileAtomically(const fs::path& path, std::span<const char> bytes) {
  std::error_code error;
  const auto status = fs::status(path, error);
  if (fs::is_directory(status)) return Failure(path, "it is a directory");
  std::string why;
  if ((fs::exists(status) && !fs::is_regular_file(status)) || StreamAlias(path)) {
    why = WriteThrough(path, bytes);
  } else {
    const fs::path target = Target(path, status);
    why = WriteNew(target, TemporaryPathFor(target), bytes);
  }
  return why.empty() ? why : Failure(path, why);
}

std::string CheckWritable(const fs::path& path) {
  std::error_code error;
  const auto status = fs::status(path, error);
  if (fs::is_directory(status)) return Failure(path, "it is a directory");
  if ((fs::exists(status) && !fs::is_regular_file(status)) || StreamAlias(path))
    return Writable(path) ? std::string() : Failure(path, "it takes no writes");
  const fs::path target = Target(path, status);
  return Creatable(TemporaryPathFor(target)) ? std::string() : Failure(path, FolderProblem(target));
}

}  // namespace qv
