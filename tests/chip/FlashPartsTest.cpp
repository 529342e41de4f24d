#include "chip/FlashParts.h"

#include <gtest/gtest.h>

#include "sim/FlashChips.h"

namespace qv {
namespace {

// The simulator keeps its own table of the parts it plays; each must be one the tool knows, and
// the two must agree on everything the tool relies on.
TEST(FlashParts, EverySimulatedPartHasAHostRowThatAgreesWithIt) {
  for (const sim::FlashChipModel& chip : sim::FlashChipModels()) {
    if (chip.absent) continue;
    SCOPED_TRACE(std::string(chip.name));
    const FlashPart* part = FindFlashPart(chip.jedecId);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->size, chip.size);
    EXPECT_EQ(part->method == ProgramMethod::kWord, chip.wordProgram);
    // Page programs must fit the part's page, or its wrap would overwrite the page's start.
    if (part->method == ProgramMethod::kPage) {
      EXPECT_EQ(part->pageSize, chip.pageSize);
    }
    // The protect value sets every block-protect bit the part has: all of it is protected.
    EXPECT_EQ(part->protectValue & chip.statusWritable & chip.protectMask, chip.protectMask);
  }
}

// Every row's size and page are the ones its name gives: "8 Mbit" is 1 MiB.
TEST(FlashParts, EveryKnownPartIsAsLargeAsItsName) {
  for (const FlashPart& part : KnownFlashParts()) {
    const std::string name(part.name);
    EXPECT_TRUE(name.starts_with(std::to_string(part.size / 0x20000) + " Mbit, ")) << name;
    if (part.method == ProgramMethod::kPage) {
      EXPECT_TRUE(name.ends_with(", " + std::to_string(part.pageSize) + "-byte pages")) << name;
    }
  }
}

TEST(FlashParts, UnknownIdentificationsFollowTheFamilyRuleAndTheirCapacityByte) {
  struct Case {
    FlashId id;
    std::uint16_t pageSize;
    ProgramMethod method;
    std::uint8_t protect;
    std::optional<std::uint32_t> size;
  };
  const Case cases[] = {
      {{0xC2, 0x22, 0x14}, 32, ProgramMethod::kPage, 0xFF, 0x100000},
      {{0xBF, 0x41, 0x00}, 256, ProgramMethod::kWord, 0x7F, std::nullopt},
      {{0x12, 0x34, 0x15}, 256, ProgramMethod::kPage, 0xFF, 0x200000},
      {{0x12, 0x34, 0x19}, 256, ProgramMethod::kPage, 0xFF, std::nullopt},  // past 16 MiB
      {{0x00, 0x00, 0x00}, 256, ProgramMethod::kPage, 0xFF, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(DescribeFlashId(c.id));
    const FlashGeometry geometry = DescribeFlash(c.id);
    EXPECT_EQ(geometry.part, nullptr);
    EXPECT_EQ(geometry.pageSize, c.pageSize);
    EXPECT_EQ(geometry.method, c.method);
    EXPECT_EQ(geometry.protectValue, c.protect);
    EXPECT_EQ(geometry.size, c.size);
  }
  EXPECT_FALSE(FlashAnswered({0xFF, 0xFF, 0xFF}));
  EXPECT_FALSE(FlashAnswered({0x00, 0x00, 0x00}));
  EXPECT_TRUE(FlashAnswered({0xEF, 0x40, 0x13}));
  EXPECT_EQ(DescribeFlashId({0xEF, 0x40, 0x13}), "EF 40 13 (4 Mbit, 256-byte pages, 512 KiB)");
  EXPECT_EQ(DescribeFlashId({0x12, 0x34, 0x99}), "12 34 99 (unknown part, size unknown)");
}

}  // namespace
}  // namespace qv
