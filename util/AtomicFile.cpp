#include "util/AtomicFile.h"

#include <fstream>
#include <random>
#include <system_error>

namespace qv {
namespace {

// Beside the target, so that the rename stays within one file system and is atomic. The random
// part keeps two writers of one file from sharing a temporary file.
std::filesystem::path TemporaryPathFor(const std::filesystem::path& path) {
  std::filesystem::path temporary = path;
  temporary += ".tmp" + std::to_string(std::random_device{}() % 1000000);
  return temporary;
}

std::string Failure(const std::filesystem::path& path, const std::string& why) {
  return "cannot write '" + path.string() + "': " + why;
}

}  // namespace

std::string WriteFileAtomically(const std::filesystem::path& path, std::span<const char> bytes) {
  const std::filesystem::path temporary = TemporaryPathFor(path);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      std::error_code ignored;
      const auto folder = path.has_parent_path() ? path.parent_path() : ".";
      return Failure(path, std::filesystem::is_directory(folder, ignored)
                               ? "the file cannot be created"
                               : "its folder does not exist");
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(temporary);
      return Failure(path, "writing failed (is the disk full?)");
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return Failure(path, error.message());
  }
  return {};
}

}  // namespace qv
