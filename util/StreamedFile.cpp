#include "util/StreamedFile.h"

#include <system_error>

#include "util/FilePaths.h"
#include "util/OutputTarget.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace qv {
namespace {

#ifdef _WIN32

std::string LastError() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

OwnedFile Open(const std::filesystem::path& path, std::string& why) {
  const OutputTarget target = FindOutputTarget(path);
  if (target.kind == OutputKind::kRefused) {
    why = target.refusal;
    return {};
  }
  // A file is emptied; a device (NUL) has nothing to empty.
  const DWORD disposition = target.kind == OutputKind::kFile ? CREATE_ALWAYS : OPEN_EXISTING;
  OwnedFile file(CreateFileW(target.path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) why = "it cannot be opened for writing: " + LastError();
  return file;
}

std::string WriteAll(const OwnedFile& file, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written == 0)
      return "writing failed: " + LastError();
    text.remove_prefix(written);
  }
  return {};
}

#else

OwnedFile Open(const std::filesystem::path& path, std::string& why) {
  const OutputTarget target = FindOutputTarget(path);
  switch (target.kind) {
    case OutputKind::kRefused:
      why = target.refusal;
      return {};
    case OutputKind::kFile: {
      // Not waited for should a FIFO have taken the file's place since it was looked at; what was
      // opened is checked to be the regular file the decision was taken on.
      OwnedFile file(::open(
          target.path.c_str(),
          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644));
      struct stat status {};
      if (!file.Valid()) {
        why = std::string("it cannot be opened for writing: ") + std::strerror(errno);
      } else if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        why = "it was changed while it was being opened";
        return {};
      }
      return file;
    }
    default:
      return OpenForWriting(target, target.kind == OutputKind::kOpenFile ? O_TRUNC : 0, why);
  }
}

std::string WriteAll(const OwnedFile& file, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(file.Get(), text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return std::string("writing failed: ") + std::strerror(errno);
    if (written == 0) return "writing failed: nothing more was taken";
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

#endif

}  // namespace

StreamedFile::StreamedFile(const std::filesystem::path& path) : path_(path) {
  std::string why;
  file_ = Open(path, why);
  if (!file_.Valid()) error_ = "cannot write " + QuotedPath(path) + ": " + why;
}

bool StreamedFile::Write(std::string_view text) {
  if (!Ready()) return false;
  if (const std::string why = WriteAll(file_, text); !why.empty()) {
    error_ = "cannot write " + QuotedPath(path_) + ": " + why;
    return false;
  }
  return true;
}

}  // namespace qv
