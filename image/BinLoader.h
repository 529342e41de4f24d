#pragma once

#include <filesystem>
#include <span>

#include "image/FlashImage.h"
#include "image/LoadResult.h"

namespace qv {

// Loads a raw binary image: byte i of the file is flash offset i, `Length` is the file size. A
// file larger than the 256 KiB image is refused: a cut image is corrupted firmware.
LoadResult LoadBinImage(FlashImage& image, const std::filesystem::path& path);
// The same for file contents already in memory.
LoadResult LoadBinBytes(FlashImage& image, std::span<const char> bytes);

}  // namespace qv
