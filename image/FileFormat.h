#pragma once

#include <string>

namespace qv {

// Which loader a path asks for in the window (and in the tool's check of a file as the editor
// page reads it), by the third character from its end, so ".hex", ".h00" and ".bin" are
// recognised in any letter case.
enum class FileFormat { kHex, kBin, kUnknown };

FileFormat FormatOf(const std::string& path);

}  // namespace qv
