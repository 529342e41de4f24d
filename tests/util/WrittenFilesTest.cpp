// The files the tools write, as the system would treat them for this user: a link another user
// planted in a shared folder is not followed, a FIFO nobody reads is refused rather than waited
// for, a regular file ends with exactly the new bytes wherever it is, and a replaced file keeps
// its mode and owner.
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempFiles.h"
#include "tests/support/TestFirmware.h"
#include "tests/support/ToolRun.h"
#include "util/AppendedFile.h"
#include "util/AtomicFile.h"
#include "util/OwnedFile.h"
#include "util/Sha256.h"

namespace qv::test {
namespace {
namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

std::string Write(const fs::path& path, std::string_view bytes) {
  return WriteFileAtomically(path, {bytes.data(), bytes.size()});
}

// Where the kernel has the thread `id` of this process wait ("wait_for_partner": in a FIFO's open
// for its other end). Read by hand: the thread may end while it is read, and a stream would throw.
std::string WaitChannel(pid_t id) {
  const std::string path = "/proc/self/task/" + std::to_string(id) + "/wchan";
  const OwnedFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char text[64] = {};
  const ssize_t got = file.Valid() ? ::read(file.Get(), text, sizeof text - 1) : -1;
  return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : std::string();
}

// Runs `write` on a thread of its own. Should it wait in the open of `fifo` for a reader (the
// kernel says so: wait_for_partner), the test fails and a reader is let in, so that it ends.
std::string WithoutWaitingOn(const fs::path& fifo, const std::function<std::string()>& write) {
  std::atomic<pid_t> writer{0};
  std::atomic<bool> done{false};
  std::string result;
  std::thread thread([&] {
    writer = ::gettid();
    result = write();
    done = true;
  });
  OwnedFile reader;
  while (!done && !reader.Valid()) {
    const pid_t id = writer;
    if (id != 0 && WaitChannel(id) == "wait_for_partner") {
      ADD_FAILURE() << "the write waits for a reader of " << fifo;
      reader = OwnedFile(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }
    std::this_thread::yield();
  }
  thread.join();
  return result;
}

// This process as the user nobody, in no group of root's, until the end of the scope.
class AsNobody {
 public:
  AsNobody() : gid_(::getegid()), groups_(static_cast<std::size_t>(::getgroups(0, nullptr))) {
    EXPECT_EQ(::getgroups(static_cast<int>(groups_.size()), groups_.data()), int(groups_.size()));
    EXPECT_EQ(::setgroups(0, nullptr), 0);
    EXPECT_EQ(::setegid(kNobody), 0);
    EXPECT_EQ(::seteuid(kNobody), 0);
  }
  AsNobody(const AsNobody&) = delete;
  AsNobody& operator=(const AsNobody&) = delete;
  ~AsNobody() {
    EXPECT_EQ(::seteuid(0), 0);
    EXPECT_EQ(::setegid(gid_), 0);
    EXPECT_EQ(::setgroups(groups_.size(), groups_.data()), 0);
  }

 private:
  gid_t gid_;
  std::vector<gid_t> groups_;
};

TEST(WrittenFiles, ALinkAnotherUserMadeInASharedFolderIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make a link of another user";
  TempDir dir;
  const fs::path shared = dir.Path() / "shared";  // as /tmp: sticky, anyone may write to it
  fs::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const fs::path victim = dir.Write("victim.txt", "keep");
  const fs::path link = shared / "out.bin";
  fs::create_symlink(victim, link);
  ASSERT_EQ(::lchown(link.c_str(), kNobody, kNobody), 0);

  const std::string refusal = "is a symbolic link another user made in a shared folder";
  const std::string written = Write(link, "new");
  EXPECT_CONTAINS(written, refusal);
  EXPECT_EQ(CheckWritable(link), written);
  AppendedFile record(link);
  EXPECT_FALSE(record.Ready());
  EXPECT_CONTAINS(record.Error(), refusal);
  EXPECT_EQ(ReadFile(victim), "keep");
  EXPECT_TRUE(fs::is_symlink(link));

  // Made by the folder's owner, the link is followed, as the system follows it.
  ASSERT_EQ(::chown(shared.c_str(), kNobody, kNobody), 0);
  EXPECT_EQ(Write(link, "new"), "");
  EXPECT_EQ(ReadFile(victim), "new");
  EXPECT_TRUE(fs::is_symlink(link));
}

TEST(WrittenFiles, DevicesAndFifosAreWrittenThroughAndAFifoNobodyReadsIsRefusedAtOnce) {
  TempDir dir;
  const fs::path fifo = dir.Path() / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string written = WithoutWaitingOn(fifo, [&] { return Write(fifo, "backup"); });
  EXPECT_EQ(written, "cannot write '" + fifo.string() + "': it is a FIFO nobody reads from");
  const std::string opened = WithoutWaitingOn(fifo, [&] { return AppendedFile(fifo).Error(); });
  EXPECT_CONTAINS(opened, "it is a FIFO nobody reads from");
  EXPECT_TRUE(fs::is_fifo(fifo));

  // A device has nothing to sync: a record kept there is written, not refused.
  AppendedFile discarded("/dev/null");
  EXPECT_TRUE(discarded.Append("{}")) << discarded.Error();
  EXPECT_EQ(Write("/dev/null", "backup"), "");
}

// Sets or clears the file's append-only flag (chattr +a); false where the system will not.
bool SetAppendOnly(const fs::path& path, bool on) {
  const OwnedFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  int flags = 0;
  if (!file.Valid() || ::ioctl(file.Get(), FS_IOC_GETFLAGS, &flags) != 0) return false;
  flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
  return ::ioctl(file.Get(), FS_IOC_SETFLAGS, &flags) == 0;
}

TEST(WrittenFiles, ARecordIsOpenedForAppendingOnlyAndAFullDeviceGivesItsOwnError) {
  // A device that takes nothing: the error is the write's own.
  AppendedFile full("/dev/full");
  EXPECT_FALSE(full.Append("{}"));
  EXPECT_CONTAINS(full.Error(), "No space left on device");

  TempDir dir;
  // A user who may add to a file but not read it (mode 0200) keeps a record in it.
  if (::geteuid() == 0) {
    const fs::path writeOnly = dir.Write("write-only.jsonl", "");
    ASSERT_EQ(::chown(writeOnly.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(writeOnly.c_str(), 0200), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
      AppendedFile record(writeOnly);
      ::_exit(record.Append("{}") ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile(writeOnly), "{}\n");
  }
  const fs::path path = dir.Write("record.jsonl", "{\"earlier\":1}\n{\"cut");
  if (!SetAppendOnly(path, true)) GTEST_SKIP() << "no append-only files here";
  std::string error;
  {
    AppendedFile record(path);
    EXPECT_TRUE(record.Append("{\"next\":2}")) << record.Error();
    error = record.Error();
  }
  SetAppendOnly(path, false);
  EXPECT_EQ(error, "");
  EXPECT_EQ(ReadFile(path), "{\"earlier\":1}\n{\"cut\n{\"next\":2}\n");
}

TEST(WrittenFiles, Sha256IsTheSystemsOwn) {
  const std::string abc = "abc";
  EXPECT_EQ(Sha256Hex({reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()}),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(WrittenFiles, ARegularFileEndsWithExactlyTheNewBytesWhereverItIs) {
  // Under /dev, yet a regular file like any other: replaced whole.
  if (fs::is_directory("/dev/shm")) {
    const fs::path file = "/dev/shm/qv-written-" + std::to_string(std::random_device{}());
    std::ofstream(file) << "an older and much longer content";
    EXPECT_EQ(Write(file, "new"), "");
    EXPECT_EQ(ReadFile(file), "new");
    fs::remove(file);
  }
  // A file this program holds open (standard error added to with 2>>) is written through that
  // descriptor, where it stands: nothing already in it is lost or overwritten.
  TempDir dir;
  const fs::path held = dir.Write("held.txt", "an earlier line\n");
  OwnedFile file(::open(held.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  ASSERT_TRUE(file.Valid());
  const std::string fd = std::to_string(file.Get());
  EXPECT_EQ(Write("/proc/self/fd/" + fd, "log\n"), "");
  EXPECT_EQ(Write("/dev/fd/" + fd, "more\n"), "");
  EXPECT_EQ(ReadFile(held), "an earlier line\nlog\nmore\n");
}

TEST(WrittenFiles, AReplacedFileKeepsItsModeAndOwner) {
  TempDir dir;
  const fs::path secret = dir.Write("backup.bin", "old");
  ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
  EXPECT_EQ(Write(secret, "new"), "");
  struct stat after {};
  ASSERT_EQ(::stat(secret.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0600u);
  if (::geteuid() != 0) return;  // only root may give a file to another user
  // A user's file written under sudo stays the user's.
  ASSERT_EQ(::chown(secret.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chmod(secret.c_str(), 0640), 0);
  EXPECT_EQ(Write(secret, "newer"), "");
  ASSERT_EQ(::stat(secret.c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, kNobody);
  EXPECT_EQ(after.st_gid, kNobody);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(secret), "newer");

  // Replaced by a user who may not give it back to its owner, nor to its group: the file becomes
  // the user's, and the group it now has gets no more than everybody had (0640 becomes 0600).
  ASSERT_EQ(::chown(secret.c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  {
    const AsNobody nobody;
    EXPECT_EQ(Write(secret, "theirs"), "");
  }
  ASSERT_EQ(::stat(secret.c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, kNobody);
  EXPECT_EQ(after.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadFile(secret), "theirs");
}

}  // namespace
}  // namespace qv::test
