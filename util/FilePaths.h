#pragma once

#include <filesystem>
#include <string>

namespace qv {

// The end of a chain of symbolic links, as the system follows it for this user.
struct FollowedPath {
  std::filesystem::path path;  // where the chain ends: a path that is not a link, or `link`
  // A link the system itself keeps for an open file (/proc/self/fd/1, where /dev/stdout leads):
  // its text is no path to follow by hand, and only the system can follow it, to the open file.
  bool systemLink = false;
  // Why a link on the way is not followed: one that another user made in a shared folder (as
  // /tmp: sticky, anyone may write to it). Empty when it is followed to its end.
  std::string refusal;
};

// The path a write to `path` reaches: a symbolic link is followed to its target (relative
// targets from the link's folder, a chain of links to its end), also when the target does not
// exist yet; any other path is returned as it is. A link the system would not follow for this
// user is not followed either: the writers follow the last links of a path by hand (to put a
// temporary file beside the file they lead to), and must not step past what the system guards.
// The folders on the way are left for the system to follow, with its own guards.
FollowedPath FollowLinks(const std::filesystem::path& path);

// "'dump.txt'": a path as messages name it.
std::string QuotedPath(const std::filesystem::path& path);

// Whether two paths name one file: the same device and inode for files that exist, else the
// same path once links are followed and it is made absolute and normal.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The folder a file named by `path` is in: "." for a bare name.
std::filesystem::path FolderOf(const std::filesystem::path& path);

}  // namespace qv
