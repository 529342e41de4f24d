#include "app/BuiltInImage.h"

namespace qv {

namespace {

constexpr std::array<std::uint8_t, kBuiltInImageSize> MakeImage() {
  std::array<std::uint8_t, kBuiltInImageSize> image{};
  image.fill(0xFF);
  return image;
}

constexpr auto kImage = MakeImage();

}  // namespace

const std::array<std::uint8_t, kBuiltInImageSize>& BuiltInImage() {
  return kImage;
}

}  // namespace qv
