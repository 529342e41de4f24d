#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

// A file that is only ever added to, such as a record of one line per event. It is opened for
// appending only, so a file the system lets only be added to serves. What was in it stays
// untouched; each Append writes its text in one call and syncs it to disk before it returns, so a
// crash of the program or the machine loses at most the line under way and never damages a line
// before it. A line the disk took only part of (it filled up) is cut off again, so the file holds
// whole lines only. A file whose last line was cut off (by a crash) gets a line end first, so the
// next line starts whole. A device or a FIFO takes each line as one write, with nothing to sync.
class AppendedFile {
 public:
  // Opens (or creates) the file for appending; Error() says why not.
  explicit AppendedFile(const std::filesystem::path& path);
  AppendedFile(const AppendedFile&) = delete;
  AppendedFile& operator=(const AppendedFile&) = delete;
  ~AppendedFile();

  bool Ready() const;
  const std::string& Error() const { return error_; }
  // Writes `line` and a line end, and syncs; false (with Error()) when that failed.
  bool Append(std::string_view line);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
  std::filesystem::path path_;
  std::string error_;
};

}  // namespace qv
