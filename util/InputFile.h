#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace qv {

// A file read whole, or why not.
struct InputFile {
  std::string bytes;
  std::string error;  // "'adir' is a directory", ...; empty when the bytes are the file's
};

// Reads a file of at most `maxBytes` bytes. A missing file, a directory and anything larger are
// refused with a sentence that names the file and the limit. A regular file's size is checked
// before anything is read; a device or a pipe has none to check, so no more than maxBytes + 1
// bytes are ever read from it.
// `limit` names the limit in the refusal ("the largest firmware file qvtool reads").
InputFile ReadInputFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                        const std::string& limit);

}  // namespace qv
