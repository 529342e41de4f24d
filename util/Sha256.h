#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qv {

// The SHA-256 of `bytes` in lower-case hex (64 digits), from the system's own implementation
// (libcrypto on Linux, BCrypt on Windows); empty if that could not be had.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace qv
