#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace qv {

// Writes `bytes` to `path`, by the type of the file found there (util/OutputTarget.h), never
// by the folder it is in:
// - A regular file, or a new path, anywhere (also /dev/shm), is written through a temporary
//   file in the same folder, under a name no one can foresee, synced to disk and renamed over
//   `path` only once it is complete, and the folder is synced after the rename: whoever reads
//   the file, and whatever interrupts the writer (a crash, a power cut), finds the old file or
//   the whole new one, never a truncated or half-written one. A file replaced keeps its
//   permissions, and its owner and group where the caller may set them (under sudo, a user's
//   file stays the user's); where not, it becomes the caller's and grants no one more than
//   before. A folder that fails to sync fails the write, though the file was replaced: it may
//   not survive a power cut.
// - A symbolic link is followed and its target replaced, the link kept, as the system follows
//   it for this user: a link another user made in a sticky folder anyone may write to (/tmp)
//   is refused, as the system refuses it (FollowLinks).
// - A device or a FIFO (/dev/null, a named pipe) is written straight through: it has nothing to
//   replace. A FIFO nobody reads from is refused at once, not waited for.
// - A file this program holds open, named through /dev/stdout, /dev/fd/N or /proc/self/fd/N, is
//   written through that descriptor where it stands, whatever it is: with `2>>log` the bytes are
//   added to the log, with `2>log` they follow what went to standard error before; nothing
//   already there is lost or overwritten, and no file is put in the place of one the shell
//   opened. A regular file another program holds open, named through its link in /proc, has no
//   path to put a new file in its place: it is emptied and written.
// Returns an error text ("cannot write 'dump.txt': ..."), empty on success; on failure the
// temporary file is removed and `path` is left as it was.
std::string WriteFileAtomically(const std::filesystem::path& path, std::span<const char> bytes);

// Why `path` could not be written as WriteFileAtomically writes it (a directory, a link not
// followed, a folder that does not exist or takes no new file, a device that takes no writes),
// in the same words; empty when it can. Creates nothing that stays, and opens no device or FIFO
// (a FIFO's reader would take that for the end): for checking an output before the work that
// fills it. Whether a FIFO has a reader is known only when it is written.
std::string CheckWritable(const std::filesystem::path& path);

}  // namespace qv
