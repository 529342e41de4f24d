#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

// A file that is only ever added to, such as a record of one line per event. What was in it
// stays untouched; each Append writes its text in one call and syncs it to disk before it
// returns, so a crash of the program or the machine loses at most the line under way and never
// damages a line before it. A file whose last line was cut off (by such a crash) gets a line end
// first, so the next line starts whole.
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
