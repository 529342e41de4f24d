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

#include "image/HexLoader.h"

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

// The image as 16-byte data records from address 0, then the end record.
inline bool WriteHexFile(const std::filesystem::path& path, std::span<const std::uint8_t> image) {
  constexpr std::size_t kRecordSize = 16;
  std::string text;
  for (std::size_t at = 0; at < image.size(); at += kRecordSize) {
    const std::size_t n = std::min(kRecordSize, image.size() - at);
    text += HexRecord(0x00, static_cast<std::uint16_t>(at), image.subspan(at, n)) + "\r\n";
  }
  text += HexRecord(0x01, 0, {}) + "\r\n";
  return WriteBytes(path, text);
}

// A firmware file that is enough for the window to announce it ready.
inline bool WriteSmallFirmwareFile(const std::filesystem::path& path) {
  const std::uint8_t bytes[16] = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A,
                                  0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
  return WriteHexFile(path, bytes);
}

}  // namespace qv::uitest
