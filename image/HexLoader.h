#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "image/FlashImage.h"
#include "image/LoadResult.h"

namespace qv {

// Loads an Intel HEX image. Every record is checked; a file with a damaged, truncated or
// unsupported record is refused with the line where the fault is. Data records are placed at
// their full address (types 02 and 04 set the upper bits), start address records are skipped,
// and the end-of-file record ends the data. `Length` is the highest address written plus one;
// the bytes between records stay 0xFF.
LoadResult LoadHexImage(FlashImage& image, const std::filesystem::path& path);

// The same for file contents already in memory.
LoadResult LoadHexText(FlashImage& image, std::string_view text);

// One record as a line of text without the line end, checksum included (":0100100000EF").
std::string HexRecord(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data);

// The value of hexadecimal digits, most significant first; upper and lower case alike. Any other
// character counts as the digit 0, so a field must be checked before it is trusted.
std::uint32_t HexFieldValue(std::string_view chars);

}  // namespace qv
