#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// What a USB device reports of itself in its descriptors: its ids and its three strings, each
// either read or unread with the reason, so that a value nobody read is never shown as one.
namespace qv {

struct DescriptorString {
  std::optional<std::string> text;  // UTF-8; set when read
  bool absent = false;              // the device descriptor names no such string
  bool unavailable = false;         // unread because the port can never read it, not a failure
  std::string why;                  // unread: why
};

struct ReportedDescriptors {
  std::optional<std::uint16_t> vendorId, productId;
  std::string idsWhy;  // unread: why
  bool idsUnavailable = false;
  // The manufacturer, product and serial number strings, in the device descriptor's order.
  std::array<DescriptorString, 3> strings;
};

// Every value unread for the same reason; `unavailable` when the port can never read them.
ReportedDescriptors UnreadDescriptors(const std::string& why, bool unavailable = false);

// The text of a string descriptor (length, type 3, UTF-16LE), as UTF-8; a unit that is no
// character (a lone surrogate) becomes U+FFFD. nullopt for bytes that are no string descriptor.
std::optional<std::string> DecodeStringDescriptor(std::span<const std::uint8_t> bytes);

}  // namespace qv
