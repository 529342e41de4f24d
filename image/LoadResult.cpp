#include "image/LoadResult.h"

#include <utility>

namespace qv {

LoadResult LoadResult::Success(std::uint16_t checksum) {
  LoadResult result;
  result.Ok = true;
  result.Checksum = checksum;
  return result;
}

LoadResult LoadResult::Failure(std::string reason, std::size_t line) {
  LoadResult result;
  result.Line = line;
  result.Reason = std::move(reason);
  return result;
}

std::string LoadResult::Message() const {
  if (Ok) return {};
  std::string where = FileName;
  if (Line != 0) where += (where.empty() ? "line " : ", line ") + std::to_string(Line);
  return where.empty() ? Reason : where + ": " + Reason;
}

std::string DisplayName(const std::filesystem::path& path) {
  // UTF-8 does not depend on the code page, so no file name can make this throw.
  const std::u8string name = path.filename().u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace qv
