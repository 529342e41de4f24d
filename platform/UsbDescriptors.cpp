#include "platform/UsbDescriptors.h"

namespace qv {
namespace {

constexpr std::uint8_t kStringType = 0x03;
constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& text, char32_t c) {
  const auto put = [&text](unsigned value) { text += static_cast<char>(value); };
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | (c >> 6));
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | (c >> 12));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | (c >> 18));
    put(0x80 | ((c >> 12) & 0x3F));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  }
}

}  // namespace

ReportedDescriptors UnreadDescriptors(const std::string& why, bool unavailable) {
  ReportedDescriptors reported;
  reported.idsWhy = why;
  reported.idsUnavailable = unavailable;
  for (DescriptorString& string : reported.strings) {
    string.why = why;
    string.unavailable = unavailable;
  }
  return reported;
}

std::optional<std::string> DecodeStringDescriptor(std::span<const std::uint8_t> bytes) {
  // The length byte counts itself and the type; a descriptor longer than what arrived was cut.
  if (bytes.size() < 2 || bytes[1] != kStringType || bytes[0] < 2 || bytes[0] > bytes.size() ||
      bytes[0] % 2 != 0)
    return std::nullopt;
  std::string text;
  const std::size_t units = (bytes[0] - 2) / 2;
  const auto unit = [&](std::size_t i) -> char32_t {
    return bytes[2 + 2 * i] | (char32_t{bytes[3 + 2 * i]} << 8);
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t first = unit(i);
    if (first >= 0xD800 && first < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) < 0xE000) {
      AppendUtf8(text, 0x10000 + ((first - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else {
      AppendUtf8(text, first >= 0xD800 && first < 0xE000 ? kReplacement : first);
    }
  }
  return text;
}

}  // namespace qv
