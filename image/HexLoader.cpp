#include "image/HexLoader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <streambuf>
#include <vector>

#include "util/Text.h"

namespace qv {
namespace {

enum RecordType : std::uint8_t {
  kData = 0x00,
  kEndOfFile = 0x01,
  kSegmentAddress = 0x02,
  kStartSegment = 0x03,
  kLinearAddress = 0x04,
  kStartLinear = 0x05,
};

// Count, two address bytes and type ahead of the data; the checksum after it.
constexpr std::size_t kHeaderBytes = 4;
constexpr std::size_t kMaxRecordDigits = 2 * (kHeaderBytes + 255 + 1);

constexpr int kEnd = std::char_traits<char>::eof();

// Digit values by character; kNotDigit for everything else.
constexpr std::uint8_t kNotDigit = 0xFF;
constexpr std::array<std::uint8_t, 256> kDigitValue = [] {
  std::array<std::uint8_t, 256> table{};
  table.fill(kNotDigit);
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table['A' + i] = static_cast<std::uint8_t>(10 + i);
    table['a' + i] = static_cast<std::uint8_t>(10 + i);
  }
  return table;
}();

// `c` as returned by a stream buffer: a character as unsigned char, or kEnd.
bool IsHexDigit(int c) {
  return c != kEnd && kDigitValue[c & 0xFF] != kNotDigit;
}

std::string Hex2(unsigned value) {
  return "0x" + FormatHex(value, 2);
}
std::string Address(std::uint64_t value) {
  return "0x" + FormatHex(value, 6);
}

// The payload size the format fixes for each record type other than data.
std::optional<std::size_t> FixedSize(std::uint8_t type) {
  switch (type) {
    case kEndOfFile:
      return 0;
    case kSegmentAddress:
    case kLinearAddress:
      return 2;
    case kStartSegment:
    case kStartLinear:
      return 4;
    default:
      return std::nullopt;
  }
}

// Text in memory, read through the same stream interface as a file, without a copy.
class TextBuffer : public std::streambuf {
 public:
  explicit TextBuffer(std::string_view text) {
    // Only the get area is set, so the characters are never written.
    char* first = const_cast<char*>(text.data());
    setg(first, first, first + text.size());
  }
};

// One pass over the text. Records start at ":"; everything between records (line ends of any
// kind, blanks, notes) is passed over, but a record itself must be complete and exact.
class HexReader {
 public:
  HexReader(FlashImage& image, std::streambuf& text) : image_(image), text_(text) {}

  LoadResult Read() {
    while (NextRecord()) {
      // Two files joined by hand keep the first one's end record in the middle; stopping there
      // would drop the rest of the firmware without a word.
      if (endLine_ != 0) {
        return *Fail("a record follows the end-of-file record on line " + std::to_string(endLine_) +
                     "; the data after it would be lost");
      }
      if (auto failure = ReadRecord()) return *failure;
    }
    if (endLine_ != 0) return LoadResult::Success(ImageChecksum(image_));
    // A file cut off at a line end passes every record check; only the missing end record
    // shows that the rest of the firmware is gone.
    return LoadResult::Failure(
        "the file ends without an end-of-file record (:00000001FF); it may be truncated");
  }

 private:
  // Moves past the next ":", counting lines (LF, CR LF or CR alone); false at the end.
  bool NextRecord() {
    for (int c = text_.sbumpc(); c != kEnd; c = text_.sbumpc()) {
      ++column_;
      if (c == ':') return true;
      if (c == '\n' || (c == '\r' && text_.sgetc() != '\n')) {
        ++line_;
        column_ = 0;
      }
    }
    return false;
  }

  std::optional<LoadResult> Fail(std::string reason) const {
    return LoadResult::Failure(std::move(reason), line_);
  }

  // Reads `count` hex digits into `out`; the failure says how the record is broken.
  std::optional<LoadResult> ReadDigits(char* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const int c = text_.sgetc();
      if (!IsHexDigit(c)) return DigitFault(c);
      out[i] = static_cast<char>(c);
      text_.sbumpc();
      ++column_;
    }
    return std::nullopt;
  }

  std::optional<LoadResult> DigitFault(int c) const {
    if (c == kEnd || c == '\n' || c == '\r' || c == ':') {
      return Fail("the record is shorter than its byte count says");
    }
    std::string reason = "column " + std::to_string(column_ + 1) + ": ";
    if (c > ' ' && c < 0x7F) {
      reason.append({'\'', static_cast<char>(c), '\''});
    } else {
      reason += "byte " + Hex2(c);
    }
    return Fail(reason + " is not a hexadecimal digit");
  }

  std::optional<LoadResult> ReadRecord() {
    std::array<char, kMaxRecordDigits> digits;
    if (auto failure = ReadDigits(digits.data(), 2)) return failure;
    const std::size_t size = HexFieldValue({digits.data(), 2});
    const std::size_t digitCount = 2 * (kHeaderBytes + size + 1);
    if (auto failure = ReadDigits(digits.data() + 2, digitCount - 2)) return failure;
    if (IsHexDigit(text_.sgetc())) return Fail("the record is longer than its byte count says");

    std::array<std::uint8_t, kMaxRecordDigits / 2> bytes;
    unsigned sum = 0;
    for (std::size_t i = 0; i < digitCount / 2; ++i) {
      bytes[i] = static_cast<std::uint8_t>(HexFieldValue({digits.data() + 2 * i, 2}));
      sum += bytes[i];
    }
    if ((sum & 0xFF) != 0) {
      const unsigned stored = bytes[digitCount / 2 - 1];
      return Fail("wrong record checksum " + Hex2(stored) + ", the record needs " +
                  Hex2((stored - sum) & 0xFF));
    }
    const std::uint16_t offset = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
    return Apply(bytes[3], offset, std::span(bytes).subspan(kHeaderBytes, size));
  }

  std::optional<LoadResult> Apply(std::uint8_t type, std::uint16_t offset,
                                  std::span<const std::uint8_t> payload) {
    if (type == kData) return Place(offset, payload);
    const std::optional<std::size_t> fixedSize = FixedSize(type);
    if (!fixedSize) return Fail("unknown record type " + Hex2(type));
    if (payload.size() != *fixedSize) {
      return Fail("a record of type " + Hex2(type) + " must hold " + std::to_string(*fixedSize) +
                  " bytes, not " + std::to_string(payload.size()));
    }
    const std::uint32_t value = payload.size() == 2 ? (payload[0] << 8 | payload[1]) : 0;
    if (type == kEndOfFile) endLine_ = line_;
    if (type == kSegmentAddress || type == kLinearAddress) {
      segmented_ = type == kSegmentAddress;
      base_ = segmented_ ? value << 4 : value << 16;
    }
    return std::nullopt;
  }

  // The consecutive addresses one part of a record lands on.
  struct Run {
    std::uint64_t start;
    std::span<const std::uint8_t> bytes;
  };

  std::optional<LoadResult> Place(std::uint16_t offset, std::span<const std::uint8_t> data) {
    if (data.empty()) return std::nullopt;
    // Writers emit long records across 64 KiB under a linear address, and mean them to run on;
    // under a segment address the format itself wraps the offset within the segment.
    std::array<Run, 2> parts{Run{std::uint64_t{base_} + offset, data}, Run{base_, {}}};
    std::span<const Run> runs = std::span(parts).first(1);
    const std::size_t inSegment = 0x10000 - offset;
    if (segmented_ && data.size() > inSegment) {
      parts[0].bytes = data.first(inSegment);
      parts[1].bytes = data.subspan(inSegment);
      runs = parts;
    }
    for (const Run& run : runs) {
      if (auto failure = CheckInFlash(run)) return failure;
    }
    for (const Run& run : runs) {
      if (auto failure = CheckUnwritten(run)) return failure;
    }
    for (const Run& run : runs) Write(run);
    return std::nullopt;
  }

  std::optional<LoadResult> CheckInFlash(const Run& run) const {
    const std::uint64_t end = run.start + run.bytes.size();
    if (end <= kFlashImageSize) return std::nullopt;
    return Fail("data at " + Address(run.start) + " to " + Address(end - 1) +
                " lies beyond the 256 KiB firmware image, which ends at " +
                Address(kFlashImageSize - 1));
  }

  // Two values for one address leave no way to tell which is the firmware, and even the same
  // value twice shows a file merged from parts that do not fit together.
  std::optional<LoadResult> CheckUnwritten(const Run& run) const {
    const std::span<const std::uint32_t> lines =
        std::span(lineOf_).subspan(run.start, run.bytes.size());
    // Or-ing the whole run keeps the common case a loop without branches.
    std::uint32_t any = 0;
    for (std::uint32_t line : lines) any |= line;
    if (any == 0) return std::nullopt;
    const auto taken =
        std::find_if(lines.begin(), lines.end(), [](auto line) { return line != 0; });
    return Fail("data at " + Address(run.start + (taken - lines.begin())) +
                " overlaps data from line " + std::to_string(*taken));
  }

  void Write(const Run& run) {
    std::copy(run.bytes.begin(), run.bytes.end(), image_.Data.begin() + run.start);
    // Line 0 means unwritten; a line past the 32-bit range (a file of gigabytes) is noted as
    // the last one that fits rather than wrapping to a wrong small number.
    const auto line = static_cast<std::uint32_t>(std::min<std::size_t>(line_, UINT32_MAX));
    std::fill_n(lineOf_.begin() + static_cast<std::ptrdiff_t>(run.start), run.bytes.size(), line);
    image_.Length =
        std::max(image_.Length, static_cast<std::uint32_t>(run.start + run.bytes.size()));
  }

  FlashImage& image_;
  std::streambuf& text_;
  std::size_t line_ = 1;
  std::size_t column_ = 0;  // characters of the current line read so far
  std::uint32_t base_ = 0;
  bool segmented_ = false;   // the latest address record was a segment's (type 02)
  std::size_t endLine_ = 0;  // line of the end-of-file record; 0 before it
  // Which line wrote each flash byte, 0 for none: for refusing and reporting overlaps.
  std::vector<std::uint32_t> lineOf_ = std::vector<std::uint32_t>(kFlashImageSize);
};

LoadResult LoadHexStream(FlashImage& image, std::streambuf& text) {
  EraseImage(image);
  LoadResult result = HexReader(image, text).Read();
  if (!result) {
    // Records before the fault are already placed; none of them may reach the flash.
    EraseImage(image);
  }
  return result;
}

}  // namespace

std::uint32_t HexFieldValue(std::string_view chars) {
  std::uint32_t value = 0;
  for (char c : chars) {
    const std::uint8_t digit = kDigitValue[static_cast<unsigned char>(c)];
    value = value * 16 + (digit == kNotDigit ? 0 : digit);
  }
  return value;
}

LoadResult LoadHexText(FlashImage& image, std::string_view text) {
  TextBuffer buffer(text);
  return LoadHexStream(image, buffer);
}

LoadResult LoadHexImage(FlashImage& image, const std::filesystem::path& path) {
  LoadResult result;
  // Larger reads than the default buffer's: fewer system calls for a typical 700 KB file.
  std::vector<char> buffer(64 * 1024);
  std::filebuf file;
  file.pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  if (!file.open(path, std::ios::in | std::ios::binary)) {
    EraseImage(image);
    result = LoadResult::Failure("the file cannot be opened");
  } else {
    try {
      result = LoadHexStream(image, file);
    } catch (const std::ios_base::failure&) {
      // The stream buffer reports a failed read (a directory, a vanished network share) so.
      EraseImage(image);
      result = LoadResult::Failure("the file cannot be read");
    }
  }
  result.FileName = DisplayName(path);
  return result;
}

std::string HexRecord(std::uint8_t type, std::uint16_t address,
                      std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()),
                                  static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  bytes.push_back(static_cast<std::uint8_t>(-sum));
  std::string line = ":";
  for (std::uint8_t b : bytes) line += FormatHex(b, 2);
  return line;
}

}  // namespace qv
