#include "platform/UsbDescriptors.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

// A device's text beyond ASCII is read whole, not as '?': a Latin-1 letter, a character past
// U+FFFF as its surrogate pair, and a lone surrogate as U+FFFD.
TEST(UsbDescriptors, StringDescriptorsAreDecodedFromUtf16) {
  const std::vector<std::uint8_t> text = {14,   0x03, 'A',  0,    0xD6, 0,   0x3D,
                                          0xD8, 0x00, 0xDE, 0x00, 0xD8, '!', 0};
  EXPECT_EQ(DecodeStringDescriptor(text), "A\xC3\x96\xF0\x9F\x98\x80\xEF\xBF\xBD!");
  EXPECT_EQ(DecodeStringDescriptor(std::vector<std::uint8_t>{2, 0x03}), "");
  // Not a string descriptor, or one cut short: nothing is taken from it.
  EXPECT_EQ(DecodeStringDescriptor(std::vector<std::uint8_t>{4, 0x01, 'A', 0}), std::nullopt);
  EXPECT_EQ(DecodeStringDescriptor(std::vector<std::uint8_t>{6, 0x03, 'A', 0}), std::nullopt);
}

}  // namespace
}  // namespace qv
