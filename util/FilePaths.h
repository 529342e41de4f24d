#pragma once

#include <filesystem>
#include <string>

namespace qv {

// The path a write to `path` reaches: a symbolic link is followed to its target (relative
// targets from the link's folder, a chain of links to its end), also when the target does not
// exist yet. Any other path is returned as it is.
std::filesystem::path FollowLinks(const std::filesystem::path& path);

// "'dump.txt'": a path as messages name it.
std::string QuotedPath(const std::filesystem::path& path);

// Whether two paths name one file: the same device and inode for files that exist, else the
// same path once links are followed and it is made absolute and normal.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace qv
