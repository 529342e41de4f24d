#pragma once

// Firmware files and flash contents for the end-to-end runs of qvtool, on Linux and under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "image/HexLoader.h"

namespace qv::test {

inline constexpr std::size_t kFlashSize = 0x80000;  // every simulated chip holds 512 KiB

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A firmware image with an erased stretch (whose pages are never sent) and an odd length.
inline std::string Firmware(std::size_t length = 40'003) {
  std::string bytes(length, '\0');
  std::uint32_t x = 0x2545F491;
  for (std::size_t i = 0; i < length; ++i) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(i >= 0x2000 && i < 0x3000 ? 0xFF : x >> 24);
  }
  return bytes;
}

inline std::string AsHex(const std::string& bytes) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data()) + at;
    const std::size_t n = std::min<std::size_t>(16, bytes.size() - at);
    text += HexRecord(0x00, static_cast<std::uint16_t>(at), {data, n}) + "\r\n";
  }
  return text + ":00000001FF\r\n";
}

// The flash an update of `image` must leave: the image, and erased bytes after it.
inline std::string Flashed(const std::string& image) {
  return image + std::string(kFlashSize - image.size(), '\xFF');
}

#define EXPECT_CONTAINS(text, part) \
  EXPECT_NE((text).find(part), std::string::npos) << "missing \"" << (part) << "\" in:\n" << (text)

}  // namespace qv::test
