#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "util/OwnedFile.h"

namespace qv {

// A file a run writes as it goes, such as a trace of one line per request: emptied (or created)
// when it is opened, then each Write goes to the system at once, so that whatever ends the run (a
// kill, a crash) leaves every line written before it, and nothing is held in memory. Not synced
// line by line: a trace of thousands of lines a second would wait for the disk at every one.
// Where the path leads is decided as for every file written (OutputTarget): a link is followed
// as the system follows it for this user, a device or a FIFO is written straight through (a FIFO
// nobody reads from is refused, not waited for), a file this program holds open (/dev/stdout) is
// written where it stands.
class StreamedFile {
 public:
  // Opens the file; Error() says why not.
  explicit StreamedFile(const std::filesystem::path& path);

  bool Ready() const { return file_.Valid() && error_.empty(); }
  // Why the file could not be opened, or the first write that failed; empty while all is well.
  const std::string& Error() const { return error_; }
  // Writes all of `text`; false (with Error()) when that failed, and every Write after it too.
  bool Write(std::string_view text);

 private:
  OwnedFile file_;
  std::filesystem::path path_;
  std::string error_;
};

}  // namespace qv
