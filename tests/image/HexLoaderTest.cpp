#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/BinLoader.h"
#include "image/HexLoader.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TestFirmware.h"

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

// An address record of `type` (0x02 segment, 0x04 linear) as one line.
std::string Upper(std::uint8_t type, std::uint16_t value) {
  const std::uint8_t bytes[] = {static_cast<std::uint8_t>(value >> 8),
                                static_cast<std::uint8_t>(value)};
  return HexRecord(type, 0, bytes) + "\n";
}

// A data record at `offset` holding 0, 1, .. count - 1: the value tells which record byte it is.
std::string Ramp(std::uint16_t offset, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return HexRecord(0x00, offset, bytes) + "\n";
}

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
        GoodHex{"NotesAfterEndRecord", kByteAt10 + kEof + "\r\n\n; built by make\n  \t\x1a", 0x11,
                0x0FF0, 0x10, 0x00},
        GoodHex{"CtrlZAfterEndRecord", kByteAt10 + ":00000001FF\r\n\x1a", 0x11, 0x0FF0, 0x10, 0x00},
        GoodHex{"LastByteOfFlash", ":020000040003F7\n:01FFFF00AB56\n" + kEof, 0x40000, 0xFFAC,
                0x3FFFF, 0xAB}),
    [](const auto& info) { return std::string(info.param.name); });

// Where the bytes of Ramp records land: `count` record bytes from value `first` on, at `address`.
struct Landing {
  std::uint32_t address;
  std::uint8_t first;
  std::size_t count;
};

struct PlacedHex {
  const char* name;
  std::string text;
  std::vector<Landing> runs;
  std::uint32_t length;
};

class HexPlacementTest : public ::testing::TestWithParam<PlacedHex> {};

TEST_P(HexPlacementTest, EveryByteLandsAtItsAddress) {
  const PlacedHex& c = GetParam();
  auto expected = std::make_unique<FlashImage>();
  EraseImage(*expected);
  for (const Landing& run : c.runs) {
    for (std::size_t i = 0; i < run.count; ++i) {
      expected->Data[run.address + i] = static_cast<std::uint8_t>(run.first + i);
    }
  }
  expected->Length = c.length;

  auto image = StaleImage();
  const LoadResult result = LoadHexText(*image, c.text + kEof);
  ASSERT_TRUE(result) << result.Message();
  EXPECT_EQ(image->Length, c.length);
  EXPECT_EQ(result.Checksum, ImageChecksum(*expected));
  const auto [got, want] =
      std::mismatch(image->Data.begin(), image->Data.end(), expected->Data.begin());
  EXPECT_TRUE(got == image->Data.end())
      << "first misplaced byte at 0x" << std::hex << (got - image->Data.begin()) << ": 0x"
      << int{*got} << " instead of 0x" << int{*want};
}

INSTANTIATE_TEST_SUITE_P(
    Records, HexPlacementTest,
    ::testing::Values(
        // Under a linear address a record runs on across 64 KiB.
        PlacedHex{
            "LinearCrosses64K", Upper(0x04, 0x0000) + Ramp(0xFFF0, 32), {{0xFFF0, 0, 32}}, 0x10010},
        PlacedHex{"NoAddressRecordCrosses64K", Ramp(0xFFF0, 32), {{0xFFF0, 0, 32}}, 0x10010},
        PlacedHex{"LongestRecordFromLastOffset", Ramp(0xFFFF, 255), {{0xFFFF, 0, 255}}, 0x100FE},
        PlacedHex{"LinearAbove64KCrosses128K",
                  Upper(0x04, 0x0001) + Ramp(0xFFF0, 32),
                  {{0x1FFF0, 0, 32}},
                  0x20010},
        PlacedHex{"LinearToLastByteOfFlash",
                  Upper(0x04, 0x0003) + Ramp(0xFFF0, 16),
                  {{0x3FFF0, 0, 16}},
                  0x40000},
        // Under a segment address the offset wraps within the segment.
        PlacedHex{"SegmentWraps",
                  Upper(0x02, 0x1000) + Ramp(0xFFF0, 32),
                  {{0x1FFF0, 0, 16}, {0x10000, 16, 16}},
                  0x20000},
        PlacedHex{"SegmentEndsAtItsTop",
                  Upper(0x02, 0x1000) + Ramp(0xFFF0, 16),
                  {{0x1FFF0, 0, 16}},
                  0x20000},
        PlacedHex{"SegmentLongestFromLastOffset",
                  Upper(0x02, 0x1000) + Ramp(0xFFFF, 255),
                  {{0x1FFFF, 0, 1}, {0x10000, 1, 254}},
                  0x20000},
        PlacedHex{"UnalignedSegmentWraps",
                  Upper(0x02, 0x0123) + Ramp(0xFFF8, 16),
                  {{0x11228, 0, 8}, {0x1230, 8, 8}},
                  0x11230},
        // The latest address record decides; start address records change nothing.
        PlacedHex{"LinearAfterSegment",
                  Upper(0x02, 0x1000) + Upper(0x04, 0x0000) + Ramp(0xFFF0, 32),
                  {{0xFFF0, 0, 32}},
                  0x10010},
        PlacedHex{"SegmentAfterLinear",
                  Upper(0x04, 0x0002) + Upper(0x02, 0x1000) + Ramp(0xFFF0, 32),
                  {{0x1FFF0, 0, 16}, {0x10000, 16, 16}},
                  0x20000},
        PlacedHex{
            "StartAddressKeepsSegment",
            Upper(0x02, 0x1000) + ":0400000300003800C1\n:04000005000000CD2A\n" + Ramp(0xFFF0, 32),
            {{0x1FFF0, 0, 16}, {0x10000, 16, 16}},
            0x20000}),
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
        BadHex{"CutAtEndOfFile", kByteAt10 + ":0100110000EE\n:04002000010203", 3,
               "shorter than its byte count"},
        BadHex{"LineCountWithCrOnly", ":0100100000EF\r\r:0100110000EF\r" + kEof, 3,
               "wrong record checksum"},
        BadHex{"LongerThanCount", ":0100100000EF00\n" + kEof, 1, "longer than its byte count"},
        BadHex{"UnknownType", kByteAt10 + ":00000006FA\n" + kEof, 2, "unknown record type 0x06"},
        BadHex{"EndRecordWithData", ":0100000100FE\n", 1, "must hold 0 bytes, not 1"},
        BadHex{"AddressRecordSize", ":03000004000100F8\n" + kEof, 1, "must hold 2 bytes, not 3"},
        BadHex{"StraddlesFlashEnd",
               ":020000023FFFBE\r\n:10000800000102030405060708090A0B0C0D0E0F70\r\n" + kEof, 2,
               "data at 0x03FFF8 to 0x040007 lies beyond the 256 KiB firmware image"},
        BadHex{"BeyondFlash", ":020000040004F6\n:0100000000FF\n" + kEof, 2,
               "data at 0x040000 to 0x040000 lies beyond the 256 KiB firmware image"},
        BadHex{"LinearCrossesFlashEnd", Upper(0x04, 0x0003) + Ramp(0xFFF8, 16) + kEof, 2,
               "data at 0x03FFF8 to 0x040007 lies beyond the 256 KiB firmware image, which ends at "
               "0x03FFFF"},
        BadHex{"SegmentWrapsFromBeyondFlash", Upper(0x02, 0x3800) + Ramp(0xFFF8, 16) + kEof, 2,
               "data at 0x047FF8 to 0x047FFF lies beyond the 256 KiB firmware image"},
        BadHex{"FarAboveFlash", Upper(0x04, 0xFFFF) + Ramp(0xFFFF, 2) + kEof, 2,
               "data at 0xFFFFFFFF to 0x100000000 lies beyond the 256 KiB firmware image"},
        BadHex{"Overlap",
               Upper(0x04, 0) + "\n" + Ramp(0x1000, 16) + "; patch\n\n\n" + Ramp(0x0FFC, 8) + kEof,
               7, "data at 0x001000 overlaps data from line 3"},
        BadHex{"SameValueTwice", ":0100000011EE\n:0100000011EE\n" + kEof, 2,
               "data at 0x000000 overlaps data from line 1"},
        BadHex{"OverlapAroundEarlierByte", Ramp(0x1008, 1) + Ramp(0x1000, 16) + kEof, 2,
               "data at 0x001008 overlaps data from line 1"},
        BadHex{"OverlapUnderOtherAddressRecord",
               Upper(0x04, 0x0001) + Ramp(0x0000, 4) + Upper(0x02, 0x1000) + Ramp(0x0002, 4) + kEof,
               4, "data at 0x010002 overlaps data from line 2"},
        BadHex{"OverlapWithPartPast64K",
               Ramp(0xFFF0, 32) + Upper(0x04, 0x0001) + Ramp(0x000F, 1) + kEof, 3,
               "data at 0x01000F overlaps data from line 1"},
        BadHex{
            "OverlapWithWrappedPart",
            Upper(0x02, 0x1000) + Ramp(0xFFF0, 32) + Upper(0x04, 0x0001) + Ramp(0x0008, 1) + kEof,
            4, "data at 0x010008 overlaps data from line 2"},
        BadHex{
            "WrappedPartOverlaps",
            Upper(0x04, 0x0001) + Ramp(0x0005, 1) + Upper(0x02, 0x1000) + Ramp(0xFFF0, 32) + kEof,
            4, "data at 0x010005 overlaps data from line 2"},
        BadHex{
            "RecordAfterEndRecord", kByteAt10 + kEof + "\n" + ":0100200000DF\n", 4,
            "a record follows the end-of-file record on line 2; the data after it would be lost"},
        BadHex{"SecondEndRecord", kEof + kEof, 2,
               "a record follows the end-of-file record on line 1"},
        BadHex{"DamagedRecordAfterEndRecord", kEof + "\r\n:0100", 3,
               "a record follows the end-of-file record on line 1"},
        BadHex{"ColonInNoteAfterEndRecord", kEof + "; built: today\n", 2,
               "a record follows the end-of-file record on line 1"},
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

TEST(HexLoaderTest, EachLoadStartsWithNothingWritten) {
  // The bookkeeping of written bytes belongs to one load: loading the same file again, or after
  // a refused one, is no overlap.
  auto image = StaleImage();
  const std::string text = Ramp(0x0100, 16) + kEof;
  ASSERT_TRUE(LoadHexText(*image, text));
  EXPECT_FALSE(LoadHexText(*image, text + text));
  const LoadResult again = LoadHexText(*image, text);
  ASSERT_TRUE(again) << again.Message();
  EXPECT_EQ(image->Length, 0x110u);
}

// How writers lay out the upper address bits of a large image.
struct Layout {
  const char* name;
  std::size_t recordSize;
  std::uint8_t addressType;  // 0x04 linear or 0x02 segment, written whenever the upper bits change
  bool splitAt64K;           // records end at each 64 KiB step rather than run across it
};

// A full flash written as records and read back must equal the same bytes loaded raw: this
// catches any misplacement at a 64 KiB step or at the end of the flash.
TEST(HexLoaderTest, FullImageMatchesBinary) {
  const std::vector<std::uint8_t> bytes = test::TestImage(kFlashImageSize, 7);
  TempDir dir;
  auto fromBin = std::make_unique<FlashImage>();
  const LoadResult bin = LoadBinImage(
      *fromBin, dir.Write("full.bin", {reinterpret_cast<const char*>(bytes.data()), bytes.size()}));
  ASSERT_TRUE(bin) << bin.Message();

  for (const Layout& layout :
       {Layout{"ShortLinear", 32, 0x04, true}, Layout{"LongLinearAcross64K", 255, 0x04, false},
        Layout{"LongSegment", 255, 0x02, true}}) {
    SCOPED_TRACE(layout.name);
    std::string text;
    std::optional<std::size_t> upper;
    for (std::size_t at = 0; at < bytes.size();) {
      std::size_t n = std::min(layout.recordSize, bytes.size() - at);
      if (layout.splitAt64K) n = std::min(n, 0x10000 - at % 0x10000);
      if (upper != at >> 16) {
        upper = at >> 16;
        const auto value =
            static_cast<std::uint16_t>(layout.addressType == 0x04 ? *upper : *upper << 12);
        text += Upper(layout.addressType, value);
      }
      text += HexRecord(0x00, at & 0xFFFF, std::span(bytes).subspan(at, n)) + "\r\n";
      at += n;
    }
    text += HexRecord(0x01, 0, {}) + "\r\n";

    auto fromHex = std::make_unique<FlashImage>();
    const LoadResult hex = LoadHexImage(*fromHex, dir.Write("full.hex", text));
    ASSERT_TRUE(hex) << hex.Message();
    EXPECT_EQ(hex.Checksum, bin.Checksum);
    EXPECT_EQ(fromHex->Length, kFlashImageSize);
    EXPECT_TRUE(fromHex->Data == fromBin->Data);
  }
}

TEST(HexLoaderTest, RecordTextIsTheStandardOne) {
  const std::uint8_t zero[] = {0x00};
  EXPECT_EQ(HexRecord(0x00, 0x0010, zero), ":0100100000EF");
  EXPECT_EQ(HexRecord(0x01, 0x0000, {}), ":00000001FF");
}

}  // namespace
}  // namespace qv
