#pragma once

#include <filesystem>
#include <string>

#include "util/OwnedFile.h"

namespace qv {

// What a write to a path meets, as the system leads the path for this user (FollowLinks), and
// so how it is written: decided by the type of the file there, never by the folder it is in.
// The one decision of both writers of files (WriteFileAtomically, AppendedFile) and of the check
// of an output before any work.
enum class OutputKind {
  kFile,      // a regular file, or nothing yet: replaced whole, or created
  kStream,    // a character or block device or a FIFO: nothing to replace, written straight through
  kHeld,      // a file this program holds open (/dev/stdout, /proc/self/fd/N), of any type:
              // written through the descriptor it has, where that stands
  kOpenFile,  // a regular file another program holds open, reached through its link in /proc:
              // no path names it to put a new file in its place, so it is emptied and written
  kRefused,   // a directory, a socket, a link not followed: `refusal` says which
};

struct OutputTarget {
  OutputKind kind = OutputKind::kFile;
  std::filesystem::path path;  // where the links end: the file to write or replace
  bool systemLink = false;     // `path` is a link in /proc that only the system can follow
  int descriptor = -1;         // kHeld: this program's descriptor
  std::string refusal;         // kRefused: why, as a message goes on ("it is a directory")
};

OutputTarget FindOutputTarget(const std::filesystem::path& path);

#ifndef _WIN32
// Opens a kStream or kOpenFile target to write to, with `flags` (O_APPEND, O_TRUNC) added, or a
// kHeld one's descriptor (a copy, as it stands); invalid, with `why`, when it cannot be. A FIFO is
// opened without waiting for a reader and refused when it has none: else the writer would wait for
// good, deaf to all but a kill, and its bytes would go to whoever came to read.
OwnedFile OpenForWriting(const OutputTarget& target, int flags, std::string& why);
#endif

}  // namespace qv
