#include "chip/SettingsFields.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

// The outputs' bits say what is switched off: "on" clears the bit, "off" sets it, and no other
// bit of the record moves.
TEST(SettingsFields, AnOutputIsOnWithItsBitClear) {
  struct Case {
    const char* word;
    SettingsRecord before, after;
  };
  const Case cases[] = {
      {"on", {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xDF, 0xFF, 0xFF}},
      {"off", {0x00, 0x00, 0x00, 0x00}, {0x00, 0x20, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto change = ParseFieldChange(std::string("spdif-out=") + c.word, error);
    ASSERT_TRUE(change) << error;
    SettingsRecord record = c.before;
    ApplyChange(record, *change);
    EXPECT_EQ(record, c.after) << c.word;
    EXPECT_EQ(FieldWord(*change->field, record), c.word);
  }
}

}  // namespace
}  // namespace qv
