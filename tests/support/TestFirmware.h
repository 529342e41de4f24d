#pragma once

// Firmware for the tests: the one generator of image bytes, the sample firmware of qvtool's runs
// and the flash an update must leave, and flash images as loads leave them.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchFirmware.h"
#include "image/FlashImage.h"
#include "image/HexLoader.h"

namespace qv::test {

inline constexpr std::size_t kFlashSize = 0x80000;  // every simulated chip holds 512 KiB

// `size` bytes of the benchmarks' random firmware of `seed`, as a std::vector<std::uint8_t> or a
// std::string. No byte is 0xFF, so every page of it is programmed, and a page misplaced, lost
// or written twice shows. The same seed gives the same bytes.
template <class Bytes = std::vector<std::uint8_t>>
Bytes TestImage(std::size_t size, std::uint32_t seed = 1) {
  const std::vector<std::uint8_t> bytes = bench::RandomFirmware(size, seed);
  return Bytes(bytes.begin(), bytes.end());
}

// The flash image a load of TestImage(size, seed) leaves: erased past its length.
inline void LoadTestImage(FlashImage& image, std::size_t size, std::uint32_t seed = 1) {
  EraseImage(image);
  const auto bytes = TestImage(size, seed);
  std::copy(bytes.begin(), bytes.end(), image.Data.begin());
  image.Length = static_cast<std::uint32_t>(size);
}

// qvtool's sample firmware: an odd length, and an erased stretch whose pages are never sent.
inline std::string Firmware(std::size_t length = 40'003) {
  std::string bytes = TestImage<std::string>(length, 0x2545F491);
  if (length > 0x2000)
    std::fill_n(bytes.begin() + 0x2000, std::min<std::size_t>(length - 0x2000, 0x1000), '\xFF');
  return bytes;
}

// The bytes as a HEX file: 16-byte data records from address 0, then the end record.
template <class Bytes>
std::string AsHex(const Bytes& bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    const std::size_t n = std::min<std::size_t>(16, bytes.size() - at);
    text += HexRecord(0x00, static_cast<std::uint16_t>(at), {data + at, n}) + "\r\n";
  }
  return text + ":00000001FF\r\n";
}

// The flash an update of `image` must leave: the image, and erased bytes after it.
inline std::string Flashed(const std::string& image) {
  return image + std::string(kFlashSize - image.size(), '\xFF');
}

// An image as left by an earlier successful load, so tests see whether a load replaces it.
inline std::unique_ptr<FlashImage> StaleImage() {
  auto image = std::make_unique<FlashImage>();
  image->Data.fill(0x5A);
  image->Length = 0x1234;
  return image;
}

inline bool AllErased(const FlashImage& image) {
  return std::all_of(image.Data.begin(), image.Data.end(),
                     [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace qv::test
