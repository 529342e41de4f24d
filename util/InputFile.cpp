#include "util/InputFile.h"

#include <fstream>
#include <system_error>

#include "util/FilePaths.h"

namespace qv {
namespace {

std::string TooLarge(const std::filesystem::path& path, std::uintmax_t maxBytes,
                     const std::string& limit) {
  return QuotedPath(path) + " is larger than " + std::to_string(maxBytes) + " bytes, " + limit;
}

}  // namespace

InputFile ReadInputFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                        const std::string& limit) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return {{}, QuotedPath(path) + " does not exist"};
  if (std::filesystem::is_directory(status)) return {{}, QuotedPath(path) + " is a directory"};
  if (std::filesystem::is_regular_file(status)) {
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > maxBytes) return {{}, TooLarge(path, maxBytes, limit)};
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return {{}, QuotedPath(path) + " cannot be opened"};
  InputFile file;
  // One byte more than the limit tells a file that is too large from one that just fits.
  constexpr std::size_t kChunk = 64 * 1024;
  std::size_t total = 0;
  while (in && total <= maxBytes) {
    const std::size_t want = std::min<std::uintmax_t>(kChunk, maxBytes + 1 - total);
    file.bytes.resize(total + want);
    in.read(file.bytes.data() + total, static_cast<std::streamsize>(want));
    total += static_cast<std::size_t>(in.gcount());
  }
  file.bytes.resize(total);
  if (in.bad()) return {{}, QuotedPath(path) + " cannot be read"};
  if (total > maxBytes) return {{}, TooLarge(path, maxBytes, limit)};
  return file;
}

}  // namespace qv
