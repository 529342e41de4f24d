#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/BinLoader.h"
#include "image/HexLoader.h"
#include "tests/image/TempFiles.h"

namespace qv {
namespace {

using test::AllErased;
using test::StaleImage;
using test::TempDir;

struct GoodHex {
  const char* name;
  std::string text;
  std::uint32_t length;
  std::uint16_t checksum;
  std::uint32_t probeAddress;  // one byte whose place proves the addressing
  std::uint8_t probeValue;
};

const std::string kEof = ":00000001FF\n";
const std::string kByteAt10 = ":0100100000EF\n";

class HexLoadsTest : public ::testing::TestWithParam<GoodHex> {};

TEST_P(HexLoadsTest, GivesLengthChecksumAndPlacement) {
  const GoodHex& c = GetParam();
  TempDir dir;
  auto image = StaleImage();
  const LoadResult result = LoadHexImage(*image, dir.Write("fw.hex", c.text));
  ASSERT_TRUE(result) << result.Message();
  EXPECT_EQ(result.Checksum, c.checksum);
  EXPECT_EQ(image->Length, c.length);
  EXPECT_EQ(image->Data[c.probeAddress], c.probeValue);
  // Nothing of the earlier image survives, also past Length.
  EXPECT_EQ(image->Data[kFlashImageSize - 1], c.length == kFlashImageSize ? c.probeValue : 0xFF);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HexLoadsTest,
    ::testing::Values(
        GoodHex{"EndRecordOnly", kEof, 0, 0x0000, 0, 0xFF},
        GoodHex{"OneByteAt0010", kByteAt10 + kEof, 0x11, 0x0FF0, 0x10, 0x00},
        GoodHex{"UpperCase", ":01001000AB44\n" + kEof, 0x11, 0x109B, 0x10, 0xAB},
        GoodHex{"LowerCase", ":01001000ab44\n:00000001ff\n", 0x11, 0x109B, 0x10, 0xAB},
        GoodHex{"CrOnly", ":01001000AB44\r:00000001FF\r", 0x11, 0x109B, 0x10, 0xAB},
        GoodHex{"CrLfNoFinalLineEnd", ":01001000AB44\r\n:00000001FF", 0x11, 0x109B, 0x10, 0xAB},
        GoodHex{"TextBetweenRecords", "; build 7\r\n  :01001000AB44 \t\n\n#\n" + kEof, 0x11, 0x109B,
                0x10, 0xAB},
        GoodHex{"LinearAddressAbove64K", ":020000040001F9\n:0400000001020304F2\n" + kEof, 0x10004,
                0x000A, 0x10002, 0x03},
        GoodHex{"SegmentAddressAbove64K", ":020000021000EC\n:0400000001020304F2\n" + kEof, 0x10004,
                0x000A, 0x10000, 0x01},
        GoodHex{"AddressRecordsAreNotData", ":020000040001F9\n" + kEof, 0, 0x0000, 0, 0xFF},
        GoodHex{"StartAddressesSkipped",
                ":0400000300003800C1\n:04000005000000CD2A\n" + kByteAt10 + kEof, 0x11, 0x0FF0, 0,
                0xFF},
        GoodHex{"LaterRecordOverwrites", ":0100000011EE\n:0100000022DD\n" + kEof, 1, 0x0022, 0,
                0x22},
        GoodHex{"NothingAfterEndRecord", kEof + kByteAt10 + "garbage", 0, 0x0000, 0x10, 0xFF},
        GoodHex{"LastByteOfFlash", ":020000040003F7\n:01FFFF00AB56\n" + kEof, 0x40000, 0xFFAC,
                0x3FFFF, 0xAB}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadHex {
  const char* name;
  std::string text;
  std::size_t line;  // 0: the fault belongs to the whole file
  const char* reason;
};

class HexRefusedTest : public ::testing::TestWithParam<BadHex> {};

TEST_P(HexRefusedTest, NamesLineAndLeavesNothingToProgram) {
  const BadHex& c = GetParam();
  TempDir dir;
  auto image = StaleImage();
  const LoadResult result = LoadHexImage(*image, dir.Write("fw.hex", c.text));
  ASSERT_FALSE(result);
  EXPECT_EQ(result.Line, c.line);
  EXPECT_NE(result.Reason.find(c.reason), std::string::npos) << result.Reason;
  const std::string where = c.line ? "fw.hex, line " + std::to_string(c.line) + ": " : "fw.hex: ";
  EXPECT_EQ(result.Message(), where + result.Reason);
  EXPECT_EQ(image->Length, 0u);
  EXPECT_TRUE(AllErased(*image));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HexRefusedTest,
    ::testing::Values(
        BadHex{"WrongChecksum", kByteAt10 + ":0100110000EF\n" + kEof, 2,
               "wrong record checksum 0xEF, the record needs 0xEE"},
        BadHex{"NotHexadecimal", kByteAt10 + ":01001000G0EF\n" + kEof, 2,
               "column 10: 'G' is not a hexadecimal digit"},
        BadHex{"BlankInsideRecord", ":01 00100000EF\n" + kEof, 1,
               "byte 0x20 is not a hexadecimal digit"},
        BadHex{"ColonInNote", "; built: today\n" + kEof, 1, "not a hexadecimal digit"},
        BadHex{"ShorterThanCount", ":10001000000102\n" + kEof, 1, "shorter than its byte count"},
        BadHex{"CutAtEndOfFile", kByteAt10 + kByteAt10 + ":04002000010203", 3,
               "shorter than its byte count"},
        BadHex{"LineCountWithCrOnly", ":0100100000EF\r\r:0100110000EF\r" + kEof, 3,
               "wrong record checksum"},
        BadHex{"LongerThanCount", ":0100100000EF00\n" + kEof, 1, "longer than its byte count"},
        BadHex{"UnknownType", kByteAt10 + ":00000006FA\n" + kEof, 2, "unknown record type 0x06"},
        BadHex{"EndRecordWithData", ":0100000100FE\n", 1, "must hold 0 bytes, not 1"},
        BadHex{"AddressRecordSize", ":03000004000100F8\n" + kEof, 1, "must hold 2 bytes, not 3"},
        BadHex{"WrapsPast64K", ":02FFFF00AABB9B\n" + kEof, 1, "past the end of its 64 KiB"},
        BadHex{"StraddlesFlashEnd",
               ":020000023FFFBE\r\n:10000800000102030405060708090A0B0C0D0E0F70\r\n" + kEof, 2,
               "data at 0x03FFF8 to 0x040007 lies beyond the flash"},
        BadHex{"BeyondFlash", ":020000040004F6\n:0100000000FF\n" + kEof, 2,
               "lies beyond the flash"},
        BadHex{"NoEndRecord", kByteAt10, 0, "without an end-of-file record"},
        BadHex{"Empty", "", 0, "without an end-of-file record"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HexLoaderTest, MissingFileEmptiesTheImage) {
  TempDir dir;
  auto image = StaleImage();
  const LoadResult result = LoadHexImage(*image, dir.Path() / "absent.hex");
  EXPECT_FALSE(result);
  EXPECT_EQ(result.Message(), "absent.hex: the file cannot be opened");
  EXPECT_EQ(image->Length, 0u);
  EXPECT_TRUE(AllErased(*image));
  EXPECT_FALSE(LoadHexImage(*image, dir.Path()));  // a directory is no file either
}

// A full flash written as records and read back must equal the same bytes loaded raw: this
// catches any misplacement at a 64 KiB step or at the end of the flash.
TEST(HexLoaderTest, FullImageMatchesBinary) {
  std::vector<std::uint8_t> bytes(kFlashImageSize);
  std::mt19937 random(7);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); at += 32) {
    if (at % 0x10000 == 0) {
      const std::uint8_t upper[] = {0x00, static_cast<std::uint8_t>(at >> 16)};
      text += HexRecord(0x04, 0, upper) + "\r\n";
    }
    text += HexRecord(0x00, at & 0xFFFF, std::span(bytes).subspan(at, 32)) + "\r\n";
  }
  text += HexRecord(0x01, 0, {}) + "\r\n";

  TempDir dir;
  auto fromHex = std::make_unique<FlashImage>();
  auto fromBin = std::make_unique<FlashImage>();
  const LoadResult hex = LoadHexImage(*fromHex, dir.Write("full.hex", text));
  const LoadResult bin = LoadBinImage(
      *fromBin, dir.Write("full.bin", {reinterpret_cast<const char*>(bytes.data()), bytes.size()}));
  ASSERT_TRUE(hex) << hex.Message();
  ASSERT_TRUE(bin) << bin.Message();
  EXPECT_EQ(hex.Checksum, bin.Checksum);
  EXPECT_EQ(fromHex->Length, kFlashImageSize);
  EXPECT_TRUE(fromHex->Data == fromBin->Data);
}

TEST(HexLoaderTest, RecordTextIsTheStandardOne) {
  const std::uint8_t zero[] = {0x00};
  EXPECT_EQ(HexRecord(0x00, 0x0010, zero), ":0100100000EF");
  EXPECT_EQ(HexRecord(0x01, 0x0000, {}), ":00000001FF");
}

}  // namespace
}  // namespace qv
