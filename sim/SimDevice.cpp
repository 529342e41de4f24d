#include "sim/SimDevice.h"

#include <algorithm>

#include "platform/DriverRecords.h"
#include "util/Text.h"

namespace qv::sim {
namespace {

std::string GuidText(const Guid& g) {
  std::string text = "{";
  text += FormatHex(g.data1, 8);
  text += '-';
  text += FormatHex(g.data2, 4);
  text += '-';
  text += FormatHex(g.data3, 4);
  text += '-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) text += '-';
    text += FormatHex(g.data4[i], 2);
  }
  text += '}';
  return LowerAscii(text);
}

}  // namespace

const Guid& SimDevice::InterfaceClass() const {
  return identity_.presentation == Identity::Presentation::kAudio ? drivers::kAudioClass
                                                                  : drivers::kUsbDeviceClass;
}

std::string SimDevice::InterfacePath() const {
  std::string ids =
      "vid_" + FormatHex(identity_.vendorId, 4) + "&pid_" + FormatHex(identity_.productId, 4);
  // The audio driver registers its interface on the function's first interface.
  if (identity_.presentation == Identity::Presentation::kAudio) ids += "&mi_00";
  std::string path =
      LowerAscii("\\\\?\\usb#" + ids + "#" + instanceId_ + "#") + GuidText(InterfaceClass());
  if (identity_.presentation == Identity::Presentation::kAudio) path += "\\global";
  return path;
}

std::array<std::uint8_t, 18> SimDevice::DeviceDescriptor() const {
  const auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); };
  const auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
  return {18,
          0x01,
          0x00,
          0x02,
          0x00,
          0x00,
          0x00,
          0x40,
          lo(identity_.vendorId),
          hi(identity_.vendorId),
          lo(identity_.productId),
          hi(identity_.productId),
          0x00,
          0x01,
          0x01,
          0x02,
          0x03,
          0x01};
}

std::vector<std::uint8_t> SimDevice::StringDescriptor(std::uint8_t index) const {
  constexpr std::uint8_t kStringType = 0x03;
  if (index == 0) return {4, kStringType, 0x09, 0x04};
  if (index > strings_.size()) return {};
  std::vector<std::uint8_t> bytes = {0, kStringType};
  for (const char c : strings_[index - 1]) bytes.insert(bytes.end(), {std::uint8_t(c), 0});
  bytes[0] = static_cast<std::uint8_t>(bytes.size());
  return bytes;
}

void SimDevice::Enumerate(bool storedIds) {
  const FirmwareMailbox& mailbox = chip_.Mailbox();
  for (std::size_t i = 0; i < strings_.size(); ++i) strings_[i] = mailbox.String(i);
  if (!storedIds || identity_.presentation != Identity::Presentation::kAudio) return;
  const auto id = [](const std::array<std::uint8_t, 4>& text) {
    return ParseUnsigned(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()),
                         16, 0xFFFF);
  };
  const auto vendor = id(mailbox.VendorIdText()), product = id(mailbox.ProductIdText());
  Identity identity = identity_;
  if (vendor) identity.vendorId = static_cast<std::uint16_t>(*vendor);
  if (product) identity.productId = static_cast<std::uint16_t>(*product);
  if (identity.vendorId != identity_.vendorId || identity.productId != identity_.productId)
    SetIdentity(std::move(identity));
}

bool SimDevice::ScheduledIn() const {
  const auto now = clock_.Now();
  return std::any_of(schedule_.begin(), schedule_.end(), [&](const PlugInterval& interval) {
    return now >= interval.in && (!interval.out || now < *interval.out);
  });
}

std::optional<std::chrono::microseconds> SimDevice::NextScheduledChange(
    std::chrono::microseconds now) const {
  std::optional<std::chrono::microseconds> next;
  const auto consider = [&](std::chrono::microseconds at) {
    if (at > now && (!next || at < *next)) next = at;
  };
  for (const PlugInterval& interval : schedule_) {
    consider(interval.in);
    if (interval.out) consider(*interval.out);
  }
  return next;
}

std::size_t SimDevice::ScheduledArrivals() const {
  const auto now = clock_.Now();
  return static_cast<std::size_t>(
      std::count_if(schedule_.begin(), schedule_.end(),
                    [&](const PlugInterval& interval) { return now >= interval.in; }));
}

void SimDevice::Arrived() {
  arrival_ = std::chrono::steady_clock::now();
}

}  // namespace qv::sim
