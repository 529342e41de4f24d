#include "util/Text.h"

#include <charconv>

namespace qv {

std::string FormatHex(std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < digits) text.insert(0, digits - text.size(), '0');
  return text;
}

std::string FormatHexBytes(std::span<const std::uint8_t> bytes, std::string_view separator) {
  std::string text;
  text.reserve(bytes.size() * (2 + separator.size()));
  for (std::uint8_t b : bytes) {
    if (!text.empty()) text += separator;
    text += FormatHex(b, 2);
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const auto value = ParseUnsigned(text.substr(i, 2), 16, 0xFF);
    if (!value) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*value));
  }
  return bytes;
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view text, int base, std::uint64_t max) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc{} || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t max) {
  const bool hex = text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X"));
  return ParseUnsigned(hex ? text.substr(2) : text, hex ? 16 : 10, max);
}

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

std::string_view TrimRight(std::string_view text, std::string_view characters) {
  const std::size_t end = text.find_last_not_of(characters);
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

}  // namespace qv
