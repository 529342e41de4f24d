#pragma once

// The loaders' promises, checked after every fuzzed load; a broken one stops the fuzzer like a
// crash does.

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/FlashImage.h"
#include "image/LoadResult.h"

namespace qv::fuzz {

// A refused file leaves nothing to program and nothing of itself in the image.
inline void CheckRefused(const FlashImage& image, const LoadResult& result) {
  static const std::array<std::uint8_t, kFlashImageSize> erased = [] {
    std::array<std::uint8_t, kFlashImageSize> bytes;
    bytes.fill(0xFF);
    return bytes;
  }();
  if (result || result.Reason.empty() || image.Length != 0) std::abort();
  if (std::memcmp(image.Data.data(), erased.data(), erased.size()) != 0) std::abort();
}

// An accepted file lies inside the flash, and the checksum is that of the bytes to program.
inline void CheckAccepted(const FlashImage& image, const LoadResult& result) {
  if (!result || image.Length > kFlashImageSize) std::abort();
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < image.Length; ++i) sum += image.Data[i];
  if (static_cast<std::uint16_t>(sum) != result.Checksum) std::abort();
}

}  // namespace qv::fuzz
