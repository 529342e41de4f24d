#include "util/FilePaths.h"

#include <system_error>

#ifndef _WIN32
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace qv {
namespace fs = std::filesystem;
namespace {

#ifdef _WIN32

// Windows has no sticky folders and no system links of open files.
std::string SharedFolderRefusal(const fs::path&) {
  return {};
}
bool SystemLink(const fs::path&) {
  return false;
}

#else

// As Linux guards links in a sticky folder anyone may write to (protected_symlinks): there a
// link is followed only for its owner, or when the folder's owner made it, so that a link
// planted in /tmp cannot lead the writer to another user's file (under sudo, to any file). The
// guard holds here also where the system has it off, as every distribution has it on.
std::string SharedFolderRefusal(const fs::path& link) {
  struct stat linkStatus {};
  struct stat folderStatus {};
  const fs::path folder = FolderOf(link);
  if (::lstat(link.c_str(), &linkStatus) != 0 || ::stat(folder.c_str(), &folderStatus) != 0)
    return {};
  const bool shared =
      (folderStatus.st_mode & (S_ISVTX | S_IWOTH)) == static_cast<mode_t>(S_ISVTX | S_IWOTH);
  if (!shared || linkStatus.st_uid == ::geteuid() || linkStatus.st_uid == folderStatus.st_uid)
    return {};
  return "it is a symbolic link another user made in a shared folder (" + QuotedPath(folder) +
         ", sticky and open to anyone), which is not followed for you";
}

// A link in /proc (/proc/self/fd/1) names an open file, not a path.
bool SystemLink(const fs::path& link) {
  struct statfs folder {};
  return ::statfs(FolderOf(link).c_str(), &folder) == 0 && folder.f_type == PROC_SUPER_MAGIC;
}

#endif

}  // namespace

FollowedPath FollowLinks(const fs::path& path) {
  // As the system's own limit on a chain of links: past it, the path is left for the write to
  // fail on.
  constexpr int kMostLinks = 40;
  const auto end = [](fs::path at, bool systemLink = false, std::string refusal = {}) {
    return FollowedPath{std::move(at), systemLink, std::move(refusal)};
  };
  fs::path current = path;
  for (int i = 0; i < kMostLinks; ++i) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(current, error))) return end(current);
    if (std::string refusal = SharedFolderRefusal(current); !refusal.empty())
      return end(current, false, std::move(refusal));
    if (SystemLink(current)) return end(current, true);
    const fs::path target = fs::read_symlink(current, error);
    if (error) return end(current);
    // Not made normal: "link-folder/../x" must reach what the system reaches, through the
    // link's folder as it is on disk.
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  return end(current);
}

std::string QuotedPath(const fs::path& path) {
  // Built up in place: GCC 12 warns falsely about the overlap of a chain of + here.
  std::string text = "'";
  text += path.string();
  text += '\'';
  return text;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code error;
  if (fs::exists(a, error) && fs::exists(b, error)) {
    const bool same = fs::equivalent(a, b, error);
    if (!error) return same;
  }
  const auto normal = [](const fs::path& p) {
    std::error_code ignored;
    const fs::path resolved =
        fs::weakly_canonical(fs::absolute(FollowLinks(p).path, ignored), ignored);
    return resolved.lexically_normal();
  };
  return normal(a) == normal(b);
}

fs::path FolderOf(const fs::path& path) {
  return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

}  // namespace qv
