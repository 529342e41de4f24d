#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace qv {

// Writes `bytes` to `path` through a temporary file in the same folder, which is renamed over
// `path` only once it is complete: whoever reads the file, and whatever interrupts the writer,
// finds the old file or the whole new one, never a truncated or half-written one. Returns an
// error text ("cannot write 'dump.txt': ..."), empty on success; on failure the temporary file
// is removed and `path` is left as it was.
std::string WriteFileAtomically(const std::filesystem::path& path, std::span<const char> bytes);

}  // namespace qv
