#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace qv::sim {

// One serial-flash part as data: what it answers, how it is organised, how long it takes and
// which quirks it has.
struct FlashChipModel {
  std::array<std::uint8_t, 3> jedecId;  // manufacturer, memory type, capacity
  std::string_view name;
  std::uint32_t size;             // bytes
  std::uint16_t pageSize;         // a page program wraps inside a page of this size
  bool byteProgramOnly;           // 0x02 programs the first data byte only
  bool wordProgram;               // knows 0xAD, the auto-address-increment word program
  std::uint8_t statusWritable;    // status bits that a status write changes
  std::uint8_t protectMask;       // the block-protect bits
  std::uint8_t statusAtDelivery;  // status as the previous update left it
  std::uint32_t chipEraseMs;
  std::uint32_t sectorEraseMs;
  std::uint32_t pageProgramUs;
  std::uint32_t wordProgramUs;
  std::uint32_t statusWriteMs;
  bool absent = false;  // no part there: nothing drives the data line
};

inline constexpr std::uint32_t kSectorSize = 4096;
inline constexpr std::uint8_t kStatusBusy = 0x01;
inline constexpr std::uint8_t kStatusWriteEnabled = 0x02;
inline constexpr std::uint8_t kStatusWordProgramming = 0x40;
inline constexpr std::uint8_t kStatusWriteLock = 0x80;  // locks the status when WP# is low

// The parts that can sit behind the bridge (the missing part last).
std::span<const FlashChipModel> FlashChipModels();
// No part behind the bridge: the setup's flash=none.
const FlashChipModel* AbsentFlashChip();
const FlashChipModel* FindFlashChip(std::array<std::uint8_t, 3> jedecId);
const FlashChipModel& DefaultFlashChip();

}  // namespace qv::sim
