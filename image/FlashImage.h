#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qv {

// The device's boot flash holds 256 KiB; no image may be larger.
inline constexpr std::size_t kFlashImageSize = 0x40000;

// What the flash operations program: `Data` from offset 0 up to `Length`. 256 KiB is too large for
// a thread's stack on every platform we build for, so owners keep it on the heap.
struct FlashImage {
  std::array<std::uint8_t, kFlashImageSize> Data{};
  // Number of meaningful bytes; 0 means there is nothing to program.
  std::uint32_t Length = 0;
};

void FillImage(FlashImage& image, std::uint8_t fill);

// All 0xFF and nothing to program: where every load starts, and what a refused load leaves.
void EraseImage(FlashImage& image);

// The 16-bit sum of Data[0] .. Data[Length - 1], the figure users compare with the one published
// for a firmware release. Fill bytes inside the range count like any other.
std::uint16_t ImageChecksum(const FlashImage& image);

}  // namespace qv
