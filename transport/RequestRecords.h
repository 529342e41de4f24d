#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "transport/Protocol.h"

namespace qv {

// The five values of a USB setup packet, as the caller of a control request states them.
struct SetupPacket {
  std::uint8_t requestType = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
};

// Input buffer of the audio-driver path: a KSPROPERTY header on the vendor property set followed
// by the setup values and a copy of the payload. max(payload + 47, 48) bytes.
std::vector<std::uint8_t> EncodeVendorPropertyRecord(const SetupPacket& setup,
                                                     std::span<const std::uint8_t> payload);

// Input buffer of the vendor-driver path, always 24 bytes. lengthField is 0 for every request
// but the descriptor probe.
std::array<std::uint8_t, protocol::kControlRecordSize> EncodeControlRequestRecord(
    const SetupPacket& setup, std::uint16_t lengthField = 0);

// A bare KSPROPERTY asking whether the driver supports the vendor property set.
std::array<std::uint8_t, protocol::kPropertyHeaderSize> EncodePropertySupportQuery();

// The I/O control code of the vendor-driver path for this direction.
inline std::uint32_t VendorIoctlFor(std::uint8_t requestType) {
  return protocol::IsDeviceToHost(requestType) ? protocol::kIoctlVendorIn
                                               : protocol::kIoctlVendorOut;
}

}  // namespace qv
