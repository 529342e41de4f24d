#include "sim/FlashChips.h"

#include <algorithm>

namespace qv::sim {
namespace {

// Timings are typical datasheet figures of such parts; statusAtDelivery is what the tool's own
// protect step leaves (every writable bit set), since a device in the field was last written by it.
constexpr std::array<FlashChipModel, 5> kModels = {{
    {.jedecId = {0xEF, 0x40, 0x13},
     .name = "W-4M 256B-page",
     .size = 0x80000,
     .pageSize = 256,
     .byteProgramOnly = false,
     .wordProgram = false,
     .statusWritable = 0xFC,
     .protectMask = 0x1C,
     .statusAtDelivery = 0xFC,
     .chipEraseMs = 800,
     .sectorEraseMs = 60,
     .pageProgramUs = 700,
     .wordProgramUs = 0,
     .statusWriteMs = 10},
    {.jedecId = {0xC2, 0x22, 0x13},
     .name = "M-4M 32B-page",
     .size = 0x80000,
     .pageSize = 32,
     .byteProgramOnly = false,
     .wordProgram = false,
     .statusWritable = 0xBC,
     .protectMask = 0x3C,
     .statusAtDelivery = 0xBC,
     .chipEraseMs = 1200,
     .sectorEraseMs = 90,
     .pageProgramUs = 300,
     .wordProgramUs = 0,
     .statusWriteMs = 15},
    {.jedecId = {0xC2, 0x20, 0x13},
     .name = "M-4M 256B-page",
     .size = 0x80000,
     .pageSize = 256,
     .byteProgramOnly = false,
     .wordProgram = false,
     .statusWritable = 0xBC,
     .protectMask = 0x3C,
     .statusAtDelivery = 0xBC,
     .chipEraseMs = 1500,
     .sectorEraseMs = 90,
     .pageProgramUs = 1400,
     .wordProgramUs = 0,
     .statusWriteMs = 15},
    {.jedecId = {0xBF, 0x25, 0x8D},
     .name = "S-4M word-program",
     .size = 0x80000,
     .pageSize = 1,
     .byteProgramOnly = true,
     .wordProgram = true,
     .statusWritable = 0xBC,
     .protectMask = 0x3C,
     .statusAtDelivery = 0xBC,
     .chipEraseMs = 50,
     .sectorEraseMs = 25,
     .pageProgramUs = 10,
     .wordProgramUs = 10,
     .statusWriteMs = 10},
    // Nothing answers behind the bridge (a flash that is missing or dead): the data line floats
    // high, so every answer reads 0xFF, the identification FF FF FF, the status busy.
    {.jedecId = {0xFF, 0xFF, 0xFF},
     .name = "none",
     .size = 0x80000,
     .pageSize = 256,
     .byteProgramOnly = false,
     .wordProgram = false,
     .statusWritable = 0,
     .protectMask = 0x1C,
     .statusAtDelivery = 0xFF,
     .chipEraseMs = 0,
     .sectorEraseMs = 0,
     .pageProgramUs = 0,
     .wordProgramUs = 0,
     .statusWriteMs = 0,
     .absent = true},
}};

}  // namespace

std::span<const FlashChipModel> FlashChipModels() {
  return kModels;
}

const FlashChipModel* AbsentFlashChip() {
  return &kModels.back();
}

const FlashChipModel* FindFlashChip(std::array<std::uint8_t, 3> jedecId) {
  const auto it = std::find_if(kModels.begin(), kModels.end(),
                               [&](const FlashChipModel& m) { return m.jedecId == jedecId; });
  return it == kModels.end() ? nullptr : &*it;
}

const FlashChipModel& DefaultFlashChip() {
  return kModels[0];
}

}  // namespace qv::sim
