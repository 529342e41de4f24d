#include "image/UserParameterMarker.h"

#include <algorithm>

namespace qv {
namespace {

constexpr std::size_t kCompared = 12;  // characters compared at most
constexpr std::size_t kNeeded = 10;    // characters that must agree

}  // namespace

std::optional<std::uint32_t> FindUserParameterMarker(std::span<const std::uint8_t> image,
                                                     std::uint32_t length) {
  const std::size_t end = std::min<std::size_t>(length, image.size());
  for (std::size_t i = 0; i + kNeeded <= end; ++i) {
    std::size_t agreeing = 0;
    while (agreeing < kCompared && i + agreeing < end &&
           image[i + agreeing] == static_cast<std::uint8_t>(kUserParameterMarker[agreeing]))
      ++agreeing;
    if (agreeing >= kNeeded) return static_cast<std::uint32_t>(i);
  }
  return std::nullopt;
}

}  // namespace qv
