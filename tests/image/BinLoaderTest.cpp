#include <gtest/gtest.h>

#include <string>

#include "image/BinLoader.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TestFirmware.h"

namespace qv {
namespace {

using test::AllErased;
using test::StaleImage;
using test::TempDir;

struct BinCase {
  const char* name;
  std::string bytes;
  bool loads;
  std::uint16_t checksum;
};

std::string FullFlashSummingTo6() {
  std::string bytes(kFlashImageSize, '\x01');
  bytes.back() = '\x07';  // 262,143 + 7 = 4 * 65,536 + 6
  return bytes;
}

class BinLoadTest : public ::testing::TestWithParam<BinCase> {};

TEST_P(BinLoadTest, LoadsWholeFileOrNothing) {
  const BinCase& c = GetParam();
  TempDir dir;
  auto image = StaleImage();
  const LoadResult result = LoadBinImage(*image, dir.Write("fw.bin", c.bytes));
  ASSERT_EQ(bool(result), c.loads) << result.Message();
  EXPECT_EQ(result.Checksum, c.checksum);
  EXPECT_EQ(image->Length, c.loads ? c.bytes.size() : 0u);
  if (c.loads) {
    EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), image->Data.begin()));
    if (c.bytes.size() < kFlashImageSize) {
      EXPECT_EQ(image->Data[c.bytes.size()], 0xFF);
    }
  } else {
    EXPECT_TRUE(AllErased(*image));
    EXPECT_NE(result.Message().find("fw.bin: the file is larger than the 256 KiB firmware image"),
              std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BinLoadTest,
    ::testing::Values(BinCase{"ThreeBytes", std::string("\x01\x02\x03"), true, 0x0006},
                      BinCase{"Empty", "", true, 0x0000},
                      BinCase{"FullFlash", FullFlashSummingTo6(), true, 0x0006},
                      BinCase{"OneByteTooMany", FullFlashSummingTo6() + '\x01', false, 0},
                      BinCase{"FarTooLarge", std::string(300000, '\x01'), false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BinLoaderTest, MissingFileEmptiesTheImage) {
  TempDir dir;
  auto image = StaleImage();
  const LoadResult result = LoadBinImage(*image, dir.Path() / "absent.bin");
  EXPECT_FALSE(result);
  EXPECT_EQ(result.Message(), "absent.bin: the file cannot be opened");
  EXPECT_EQ(image->Length, 0u);
  EXPECT_TRUE(AllErased(*image));
}

}  // namespace
}  // namespace qv
