#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Upper-case hexadecimal, zero-padded to at least `digits` digits ("0A", "01F000").
std::string FormatHex(std::uint64_t value, int digits);
// Bytes as upper-case hex pairs separated by `separator` ("06 9F 00", or "069F00" for files where
// size counts).
std::string FormatHexBytes(std::span<const std::uint8_t> bytes, std::string_view separator = " ");
// Hex pairs with nothing between them, either case, as FormatHexBytes writes them with no
// separator; nullopt for an odd length or a character that is not a hex digit.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text);

// The text with A-Z turned to a-z and every other byte as it stands (ids in interface paths,
// file extensions, answers typed at a prompt).
std::string LowerAscii(std::string_view text);

// The text without any of `characters` at its end.
std::string_view TrimRight(std::string_view text, std::string_view characters = " ");

// A whole unsigned number in the given base (10 or 16); no sign, no prefix, no blanks. nullopt
// for anything else, including a value above `max`.
std::optional<std::uint64_t> ParseUnsigned(std::string_view text, int base,
                                           std::uint64_t max = UINT64_MAX);

// A number as a person types it on a command line: decimal, or hexadecimal after 0x (or 0X);
// nullopt for anything else, including a value above `max`.
std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t max = UINT64_MAX);

}  // namespace qv
