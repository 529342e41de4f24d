#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace qv {

// Writes `bytes` to `path`. A regular file, or a new path, is written through a temporary file
// in the same folder, synced to disk and renamed over `path` only once it is complete, and the
// folder is synced after the rename: whoever reads the file, and whatever interrupts the writer
// (a crash, a power cut), finds the old file or the whole new one, never a truncated or
// half-written one. A symbolic link is followed and its target replaced, the link kept. A device
// or a pipe (/dev/null, /dev/stdout, a FIFO) is written straight through: it has nothing to
// replace. Returns an error text ("cannot write 'dump.txt': ..."), empty on success; on failure
// the temporary file is removed and `path` is left as it was.
std::string WriteFileAtomically(const std::filesystem::path& path, std::span<const char> bytes);

// Why `path` could not be written as WriteFileAtomically writes it (a directory, a folder that
// does not exist or takes no new file, a device that takes no writes), in the same words;
// empty when it can. Creates nothing that stays: for checking an output before the work that
// fills it.
std::string CheckWritable(const std::filesystem::path& path);

}  // namespace qv
