#include "ui/Convert.h"

#include <cstdint>
#include <optional>

#include "util/Text.h"

namespace qv::ui {

namespace {

std::optional<int> Parse(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::string_view rest = text.substr(i);
  int base = 10;
  if (rest.starts_with('$')) {
    base = 16;
    rest.remove_prefix(1);
  } else if (rest.starts_with("0x") || rest.starts_with("0X")) {
    base = 16;
    rest.remove_prefix(2);
  }
  // Hexadecimal may fill all 32 bits; decimal stops at the signed range.
  const std::uint64_t max = base == 16 ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
  const auto value = ParseUnsigned(rest, base, max);
  if (!value) return std::nullopt;
  const auto magnitude = static_cast<std::uint32_t>(*value);
  const std::uint32_t bits = negative ? 0u - magnitude : magnitude;
  return static_cast<std::int32_t>(bits);
}

}  // namespace

int StrToInt(std::string_view text) {
  if (const auto value = Parse(text)) return *value;
  throw ConvertError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace qv::ui
