#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qv {

inline constexpr std::size_t kBuiltInImageSize = 0x8000;

// The 32 KiB block the program carries. It stands in the flash image and the file editor's
// buffer until a firmware file is loaded, and the " Save" buttons copy it there again. It is
// erased-flash content (every byte 0xFF): should it ever be programmed, the flash reads as
// blank, and it can never look like firmware or carry the user-parameter marker.
const std::array<std::uint8_t, kBuiltInImageSize>& BuiltInImage();

}  // namespace qv
