#include "util/FilePaths.h"

#include <system_error>

namespace qv {
namespace fs = std::filesystem;

fs::path FollowLinks(const fs::path& path) {
  // As the system's own limit on a chain of links: past it, the path is left for the write to
  // fail on.
  constexpr int kMostLinks = 40;
  fs::path current = path;
  for (int i = 0; i < kMostLinks; ++i) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(current, error))) return current;
    const fs::path target = fs::read_symlink(current, error);
    if (error) return current;
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  return current;
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
    const fs::path resolved = fs::weakly_canonical(fs::absolute(FollowLinks(p), ignored), ignored);
    return resolved.lexically_normal();
  };
  return normal(a) == normal(b);
}

}  // namespace qv
