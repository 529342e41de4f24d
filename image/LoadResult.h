#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace qv {

// The outcome of loading a firmware file: the image checksum, or why the file was refused. A
// refused file leaves the image empty (all 0xFF, Length 0), so nothing of it can be programmed.
struct LoadResult {
  static LoadResult Success(std::uint16_t checksum);
  static LoadResult Failure(std::string reason, std::size_t line = 0);

  explicit operator bool() const { return Ok; }
  // "Brevanto_RX1.hex, line 12: ..." for the user; without a line when the fault has none.
  std::string Message() const;

  bool Ok = false;
  std::uint16_t Checksum = 0;
  std::size_t Line = 0;  // line of the offending record, counted from 1; 0 for the whole file
  std::string Reason;
  std::string FileName;  // set by the file loaders
};

// The file's name without its directory, as messages show it.
std::string DisplayName(const std::filesystem::path& path);

}  // namespace qv
