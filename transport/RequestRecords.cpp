#include "transport/RequestRecords.h"

#include <algorithm>

namespace qv {
namespace {

void PutLe(std::span<std::uint8_t> out, std::size_t offset, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutPropertyHeader(std::span<std::uint8_t> out, std::uint32_t id, std::uint32_t flags) {
  const auto set = protocol::kVendorPropertySet.Bytes();
  std::copy(set.begin(), set.end(), out.begin());
  PutLe(out, 16, id, 4);
  PutLe(out, 20, flags, 4);
}

}  // namespace

std::vector<std::uint8_t> EncodeVendorPropertyRecord(const SetupPacket& setup,
                                                     std::span<const std::uint8_t> payload) {
  // The driver's record has room for a zero tail after the payload; an empty payload still needs
  // the 48-byte minimum.
  std::vector<std::uint8_t> record(std::max<std::size_t>(payload.size() + 47, 48), 0);
  const std::uint32_t flags =
      protocol::IsDeviceToHost(setup.requestType) ? protocol::kPropertyGet : protocol::kPropertySet;
  PutPropertyHeader(record, protocol::kVendorPropertyId, flags);
  record[24] = protocol::kPropertyRequestMarker;
  record[25] = setup.request;
  PutLe(record, 26, setup.value, 2);
  PutLe(record, 28, setup.index, 2);
  PutLe(record, 36, static_cast<std::uint32_t>(payload.size()), 4);
  std::copy(payload.begin(), payload.end(),
            record.begin() + static_cast<std::ptrdiff_t>(protocol::kPropertyPayloadOffset));
  return record;
}

std::array<std::uint8_t, protocol::kControlRecordSize> EncodeControlRequestRecord(
    const SetupPacket& setup, std::uint16_t lengthField) {
  std::array<std::uint8_t, protocol::kControlRecordSize> record{};
  record[4] = setup.requestType;
  record[5] = setup.request;
  PutLe(record, 6, setup.value, 2);
  PutLe(record, 8, setup.index, 2);
  PutLe(record, 10, lengthField, 2);
  return record;
}

std::array<std::uint8_t, protocol::kPropertyHeaderSize> EncodePropertySupportQuery() {
  std::array<std::uint8_t, protocol::kPropertyHeaderSize> record{};
  PutPropertyHeader(record, 0, protocol::kPropertySetSupport);
  return record;
}

}  // namespace qv
