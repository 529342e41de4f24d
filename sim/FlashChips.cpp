#include "sim/FlashChips.h"

#include <algorithm>

namespace qv::sim {
namespace {

// Timings are typical datasheet figures of such parts; statusAtDelivery is what the tool's own
// protect step leaves (every writable bit set), since a device in the field was last written by it.
constexpr std::array<FlashChipModel, 4> kModels = {{
    // jedec             name            size    page  byte  word  writable prot  delivery
    //   chipErase sectorErase pageProgram(us) wordProgram(us) statusWrite
    {{0xEF, 0x40, 0x13},
     "W-4M 256B-page",
     0x80000,
     256,
     false,
     false,
     0xFC,
     0x1C,
     0xFC,
     800,
     60,
     700,
     0,
     10},
    {{0xC2, 0x22, 0x13},
     "M-4M 32B-page",
     0x80000,
     32,
     false,
     false,
     0xBC,
     0x3C,
     0xBC,
     1200,
     90,
     300,
     0,
     15},
    {{0xC2, 0x20, 0x13},
     "M-4M 256B-page",
     0x80000,
     256,
     false,
     false,
     0xBC,
     0x3C,
     0xBC,
     1500,
     90,
     1400,
     0,
     15},
    {{0xBF, 0x25, 0x8D},
     "S-4M word-program",
     0x80000,
     1,
     true,
     true,
     0xBC,
     0x3C,
     0xBC,
     50,
     25,
     10,
     10,
     10},
}};

}  // namespace

std::span<const FlashChipModel> FlashChipModels() {
  return kModels;
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
