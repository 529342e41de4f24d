#pragma once

#include <array>
#include <cstdint>

namespace qv {

// A Windows GUID by value. Kept free of <windows.h> so the core compiles everywhere.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::array<std::uint8_t, 8> data4;

  friend bool operator==(const Guid&, const Guid&) = default;

  // The usual in-memory layout: the first three groups little-endian, the last eight bytes as
  // they stand.
  std::array<std::uint8_t, 16> Bytes() const {
    std::array<std::uint8_t, 16> b{};
    for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) b[4 + i] = static_cast<std::uint8_t>(data2 >> (8 * i));
    for (int i = 0; i < 2; ++i) b[6 + i] = static_cast<std::uint8_t>(data3 >> (8 * i));
    for (int i = 0; i < 8; ++i) b[8 + i] = data4[i];
    return b;
  }
};

}  // namespace qv
