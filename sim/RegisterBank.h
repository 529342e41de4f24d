#pragma once

#include <array>
#include <cstdint>

namespace qv::sim {

// The 256 byte registers of one bank. Components that give a bank behaviour keep their plain
// registers here, so direct peeks and pokes see what the host sees.
using RegisterBank = std::array<std::uint8_t, 256>;

}  // namespace qv::sim
