// What the atomic writer does when the system fails it where a test cannot make it fail for real:
// a folder that will not sync, and a temporary name already taken. The calls are wrapped at link
// time (-Wl,--wrap), so the writer runs unchanged.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdarg>
#include <filesystem>
#include <set>
#include <string>

#include "tests/support/TempFiles.h"
#include "tests/support/ToolRun.h"
#include "util/AtomicFile.h"

namespace {

// What the wrapped calls are told to do; one test at a time sets it.
struct Faults {
  int folderSyncError = 0;  // errno of a folder's fsync, 0: none
  int clashes = 0;          // exclusive creations still to refuse with EEXIST
  std::set<std::string> drawn;
};
Faults& Planted() {
  static Faults faults;
  return faults;
}

}  // namespace

extern "C" {
int __real_fsync(int fd);
int __real_openat(int folder, const char* name, int flags, ...);

int __wrap_fsync(int fd) {
  struct stat status {};
  if (Planted().folderSyncError && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    errno = Planted().folderSyncError;
    return -1;
  }
  return __real_fsync(fd);
}

int __wrap_openat(int folder, const char* name, int flags, ...) {
  mode_t mode = 0;
  if (flags & O_CREAT) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if (flags & O_EXCL) {
    Planted().drawn.insert(name);
    if (Planted().clashes > 0) {
      --Planted().clashes;
      errno = EEXIST;
      return -1;
    }
  }
  return __real_openat(folder, name, flags, mode);
}
}

namespace qv::test {
namespace {
namespace fs = std::filesystem;

class WriterFaults : public ::testing::Test {
 protected:
  void TearDown() override { Planted() = {}; }
  std::string Write(std::string_view bytes) {
    return WriteFileAtomically(dir.Path() / "out.bin", {bytes.data(), bytes.size()});
  }
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir.Path()), {}));
  }
  TempDir dir;
};

// The rename is lasting only once the folder is synced: a folder that fails its sync fails the
// write, and says the file was replaced all the same. A file system that has no way to sync a
// folder (EINVAL) is no failure.
TEST_F(WriterFaults, AFolderThatFailsItsSyncFailsTheWrite) {
  dir.Write("out.bin", "old");
  Planted().folderSyncError = EIO;
  const std::string error = Write("new");
  EXPECT_CONTAINS(error, "it was replaced, but its folder could not be synced");
  EXPECT_CONTAINS(error, "may not survive a power cut");
  EXPECT_EQ(dir.Read("out.bin"), "new");

  Planted().folderSyncError = EINVAL;
  EXPECT_EQ(Write("newer"), "");
}

// A temporary name that is taken is drawn again, each time a new one; only when every draw
// clashes does the write fail, leaving the old file and nothing else.
TEST_F(WriterFaults, ATakenTemporaryNameIsDrawnAgain) {
  dir.Write("out.bin", "old");
  Planted().clashes = 3;
  EXPECT_EQ(Write("new"), "");
  EXPECT_EQ(dir.Read("out.bin"), "new");
  EXPECT_EQ(Planted().drawn.size(), 4u);
  for (const std::string& name : Planted().drawn) EXPECT_EQ(name.rfind("out.bin.tmp", 0), 0u);

  Planted().clashes = 1000;
  const std::string error = Write("newer");
  EXPECT_CONTAINS(error, "cannot be created");
  EXPECT_EQ(dir.Read("out.bin"), "new");
  EXPECT_EQ(FilesInFolder(), 1u);
}

}  // namespace
}  // namespace qv::test
