#pragma once

// The files a window test lays out for the program it drives: a work folder emptied for the run,
// and the firmware files the program finds there.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>

#include "tests/support/TestFirmware.h"

namespace qv::uitest {

// An earlier run's files would decide what the program finds, so the folder starts empty.
inline bool MakeEmptyFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  std::filesystem::create_directories(folder, error);
  return !error;
}

inline bool WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}

inline bool WriteHexFile(const std::filesystem::path& path, std::span<const std::uint8_t> image) {
  return WriteBytes(path, test::AsHex(image));
}

// A firmware file that is enough for the window to announce it ready.
inline bool WriteSmallFirmwareFile(const std::filesystem::path& path) {
  const std::uint8_t bytes[16] = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A,
                                  0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
  return WriteHexFile(path, bytes);
}

}  // namespace qv::uitest
