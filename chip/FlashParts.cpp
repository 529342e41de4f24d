#include "chip/FlashParts.h"

#include <algorithm>
#include <array>

#include "util/Text.h"

namespace qv {
namespace {

constexpr std::uint8_t kProtectAll = 0xFF;
// Word-program parts keep bit 7 (the status lock) clear, so a later update can unprotect them
// even while their write-protect pin is asserted.
constexpr std::uint8_t kProtectAllWordMode = 0x7F;

constexpr std::array<FlashPart, 8> kParts = {{
    {.id = {0xEF, 0x40, 0x13},
     .name = "4 Mbit, 256-byte pages",
     .size = 0x80000,
     .pageSize = 256,
     .method = ProgramMethod::kPage,
     .protectValue = kProtectAll},
    {.id = {0xEF, 0x40, 0x14},
     .name = "8 Mbit, 256-byte pages",
     .size = 0x100000,
     .pageSize = 256,
     .method = ProgramMethod::kPage,
     .protectValue = kProtectAll},
    {.id = {0xEF, 0x40, 0x15},
     .name = "16 Mbit, 256-byte pages",
     .size = 0x200000,
     .pageSize = 256,
     .method = ProgramMethod::kPage,
     .protectValue = kProtectAll},
    {.id = {0xC2, 0x22, 0x13},
     .name = "4 Mbit, 32-byte pages",
     .size = 0x80000,
     .pageSize = 32,
     .method = ProgramMethod::kPage,
     .protectValue = kProtectAll},
    {.id = {0xC2, 0x20, 0x13},
     .name = "4 Mbit, 256-byte pages",
     .size = 0x80000,
     .pageSize = 256,
     .method = ProgramMethod::kPage,
     .protectValue = kProtectAll},
    {.id = {0xC2, 0x20, 0x14},
     .name = "8 Mbit, 256-byte pages",
     .size = 0x100000,
     .pageSize = 256,
     .method = ProgramMethod::kPage,
     .protectValue = kProtectAll},
    {.id = {0xBF, 0x25, 0x8D},
     .name = "4 Mbit, word program",
     .size = 0x80000,
     .pageSize = 256,
     .method = ProgramMethod::kWord,
     .protectValue = kProtectAllWordMode},
    {.id = {0xBF, 0x25, 0x8E},
     .name = "8 Mbit, word program",
     .size = 0x100000,
     .pageSize = 256,
     .method = ProgramMethod::kWord,
     .protectValue = kProtectAllWordMode},
}};

// JEDEC capacity codes count address bits; below 64 KiB or above the 24-bit address space the
// byte means something else (some makers number their parts there).
constexpr std::uint8_t kSmallestCapacityCode = 0x10, kLargestCapacityCode = 0x18;

}  // namespace

std::span<const FlashPart> KnownFlashParts() {
  return kParts;
}

const FlashPart* FindFlashPart(const FlashId& id) {
  const auto it =
      std::find_if(kParts.begin(), kParts.end(), [&](const FlashPart& p) { return p.id == id; });
  return it == kParts.end() ? nullptr : &*it;
}

FlashGeometry DescribeFlash(const FlashId& id) {
  FlashGeometry geometry;
  if (const FlashPart* part = FindFlashPart(id)) {
    geometry.part = part;
    geometry.pageSize = part->pageSize;
    geometry.method = part->method;
    geometry.protectValue = part->protectValue;
    geometry.size = part->size;
    return geometry;
  }
  if (id[0] == 0xC2 && id[1] == 0x22) geometry.pageSize = 32;
  if (id[0] == 0xBF) {
    geometry.method = ProgramMethod::kWord;
    geometry.protectValue = kProtectAllWordMode;
  }
  if (id[2] >= kSmallestCapacityCode && id[2] <= kLargestCapacityCode)
    geometry.size = std::uint32_t{1} << id[2];
  return geometry;
}

bool FlashAnswered(const FlashId& id) {
  return id != FlashId{0xFF, 0xFF, 0xFF} && id != FlashId{0x00, 0x00, 0x00};
}

std::string DescribeFlashId(const FlashId& id) {
  const FlashGeometry geometry = DescribeFlash(id);
  std::string text = FormatHexBytes(id) + " (";
  text += geometry.part ? std::string(geometry.part->name) + ", " : std::string("unknown part, ");
  text += geometry.size ? std::to_string(*geometry.size / 1024) + " KiB" : "size unknown";
  return text + ")";
}

}  // namespace qv
