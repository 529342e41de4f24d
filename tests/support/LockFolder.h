#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qv::test {

inline std::uint64_t ThisProcess() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<std::uint64_t>(getpid());
#endif
}

// The device claims of a test go to a lock folder of its own (QV_LOCK_DIR), not the system's, and
// are removed with it at the end. Windows keeps its claims as named objects, which end with the
// process.
class LockFolder {
 public:
  LockFolder()
      : folder_(std::filesystem::temp_directory_path() /
                ("qv-locks-" + std::to_string(ThisProcess()))) {
    std::filesystem::create_directories(folder_);
    // As the system's lock folder is: a test that runs qvtool as another user shares it.
    std::filesystem::permissions(folder_,
                                 std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
#ifdef _WIN32
    _putenv_s("QV_LOCK_DIR", folder_.string().c_str());
#else
    setenv("QV_LOCK_DIR", folder_.c_str(), 1);
#endif
  }
  ~LockFolder() {
#ifdef _WIN32
    _putenv_s("QV_LOCK_DIR", "");
#else
    unsetenv("QV_LOCK_DIR");
#endif
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  LockFolder(const LockFolder&) = delete;
  LockFolder& operator=(const LockFolder&) = delete;

 private:
  std::filesystem::path folder_;
};

}  // namespace qv::test
