#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace qv::ui {

// A text the user typed could not be converted. Shown by the standard error dialog.
class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A 32-bit integer in the desktop's usual syntax: leading blanks skipped, an optional sign, then
// decimal digits, or hexadecimal digits after "$" or "0x"/"0X" (hexadecimal may use all 32 bits:
// "$FFFFFFFF" is -1). Anything else, including trailing characters, throws
// ConvertError("'<text>' is not a valid integer value").
int StrToInt(std::string_view text);

}  // namespace qv::ui
