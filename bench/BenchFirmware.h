#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::bench {

// Random firmware without erased pages (no byte is 0xFF), so every page must be programmed and
// a run measures the whole image. The seed keeps each benchmark's image what it always was.
inline std::vector<std::uint8_t> RandomFirmware(std::size_t bytes, std::uint32_t seed) {
  std::vector<std::uint8_t> image(bytes);
  std::uint32_t x = seed;
  for (auto& byte : image) {
    x = x * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>((x >> 24) % 0xFF);
  }
  return image;
}

}  // namespace qv::bench
