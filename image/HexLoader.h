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
// unsupported record is refused with the line where the fault is. Text between records (line
// ends of any kind, blanks, notes) is passed over; every ":" starts a record. The latest address
// record decides where data go:
//  - under a linear address (type 04), and before any address record (upper base 0), byte i of a
//    record at offset o goes to base + o + i, so a record may run on across 64 KiB;
//  - under a segment address (type 02) it goes to base + ((o + i) mod 0x10000): the offset wraps
//    within the segment.
// Start address records are skipped. The end-of-file record ends the data; text after it is
// passed over, but a record after it refuses the file, naming both lines, since that record's
// data would otherwise be dropped. A flash byte written twice (even with the same value) refuses
// the file with both lines and the address; data beyond the 256 KiB image refuse it with their
// address range. `Length` is the highest address written plus one; the bytes between records stay
// 0xFF.
LoadResult LoadHexImage(FlashImage& image, const std::filesystem::path& path);

// The same for file contents already in memory.
LoadResult LoadHexText(FlashImage& image, std::string_view text);

// One record as a line of text without the line end, checksum included (":0100100000EF").
std::string HexRecord(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data);

// The value of hexadecimal digits, most significant first; upper and lower case alike. Any other
// character counts as the digit 0, so a field must be checked before it is trusted.
std::uint32_t HexFieldValue(std::string_view chars);

}  // namespace qv
