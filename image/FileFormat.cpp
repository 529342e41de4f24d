#include "image/FileFormat.h"

namespace qv {

FileFormat FormatOf(const std::string& path) {
  if (path.size() < 3) return FileFormat::kUnknown;
  switch (path[path.size() - 3]) {
    case 'b':
    case 'B':
      return FileFormat::kBin;
    case 'h':
    case 'H':
      return FileFormat::kHex;
    default:
      return FileFormat::kUnknown;
  }
}

}  // namespace qv
