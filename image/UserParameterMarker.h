#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qv {

// The text that marks a firmware image as one whose user parameters may be edited.
inline constexpr std::string_view kUserParameterMarker = "QVUSB_Table01";

// The lowest offset below `length` (and inside `image`) whose bytes begin with at least the
// first ten characters of the marker ("QVUSB_Tabl"), compared byte by byte and case-sensitively
// up to its first twelve. Only bytes before `length` are looked at, so a position whose ten
// bytes would pass the end cannot match. Nothing when no position matches.
std::optional<std::uint32_t> FindUserParameterMarker(std::span<const std::uint8_t> image,
                                                     std::uint32_t length);

}  // namespace qv
