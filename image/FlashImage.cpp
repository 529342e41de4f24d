#include "image/FlashImage.h"

#include <numeric>

namespace qv {

void FillImage(FlashImage& image, std::uint8_t fill) {
  image.Data.fill(fill);
}

void EraseImage(FlashImage& image) {
  FillImage(image, 0xFF);
  image.Length = 0;
}

std::uint16_t ImageChecksum(const FlashImage& image) {
  const auto begin = image.Data.begin();
  // 256 KiB of 0xFF stays far below the range of 32 bits, so the sum is cut to 16 bits only once.
  const std::uint32_t sum = std::accumulate(begin, begin + image.Length, std::uint32_t{0});
  return static_cast<std::uint16_t>(sum);
}

}  // namespace qv
