#include "platform/DriverRecords.h"

#include <algorithm>

namespace qv::drivers {
namespace {

std::uint32_t Le(std::span<const std::uint8_t> bytes, std::size_t offset, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[offset + i];
  return value;
}

bool AllZero(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

bool IsVendorSet(std::span<const std::uint8_t> input) {
  // Read the GUID field by field as the structure lays it out in memory.
  return Le(input, 0, 4) == kVendorSet.data1 && Le(input, 4, 2) == kVendorSet.data2 &&
         Le(input, 6, 2) == kVendorSet.data3 &&
         std::equal(kVendorSet.data4.begin(), kVendorSet.data4.end(), input.begin() + 8);
}

std::optional<DecodedRequest> Refuse(std::string& why, std::string reason) {
  why = std::move(reason);
  return std::nullopt;
}

constexpr std::uint32_t kGet = 1, kSet = 2, kSetSupport = 0x100;
constexpr std::size_t kHeader = 24, kPayloadOffset = 40, kVendorRecord = 24;

}  // namespace

std::optional<DecodedRequest> DecodeAudioRequest(std::uint32_t code,
                                                 std::span<const std::uint8_t> input,
                                                 std::span<const std::uint8_t> output,
                                                 std::string& why) {
  if (code != kKsPropertyCode) return Refuse(why, "audio driver: not a property request");
  if (input.size() < kHeader) return Refuse(why, "audio driver: property header too short");
  if (!IsVendorSet(input)) return Refuse(why, "audio driver: unknown property set");
  const std::uint32_t id = Le(input, 16, 4);
  const std::uint32_t flags = Le(input, 20, 4);

  DecodedRequest request;
  if (flags == kSetSupport) {
    if (id != 0 || input.size() != kHeader || !output.empty())
      return Refuse(why, "audio driver: malformed support query");
    request.kind = DecodedRequest::Kind::kPropertySupport;
    return request;
  }
  if (id != 7) return Refuse(why, "audio driver: unknown property id");
  if (flags != kGet && flags != kSet) return Refuse(why, "audio driver: bad property flags");
  if (input.size() < 48) return Refuse(why, "audio driver: property record too short");
  if (input[24] != 0x20) return Refuse(why, "audio driver: byte 24 is not 0x20");
  const std::uint32_t length = Le(input, 36, 4);
  if (input.size() != std::max<std::size_t>(std::size_t{length} + 47, 48))
    return Refuse(why, "audio driver: record size does not match its payload length");
  if (output.size() != length)
    return Refuse(why, "audio driver: output buffer size differs from the payload length");
  if (!AllZero(input.subspan(30, 6)) || !AllZero(input.subspan(kPayloadOffset + length)))
    return Refuse(why, "audio driver: reserved bytes not zero");

  request.deviceToHost = flags == kGet;
  request.request = input[25];
  request.value = static_cast<std::uint16_t>(Le(input, 26, 2));
  request.index = static_cast<std::uint16_t>(Le(input, 28, 2));
  request.length = length;
  request.outData = input.subspan(kPayloadOffset, length);
  return request;
}

std::optional<DecodedRequest> DecodeVendorRequest(std::uint32_t code,
                                                  std::span<const std::uint8_t> input,
                                                  std::span<const std::uint8_t> output,
                                                  std::string& why) {
  if (code != kVendorReadCode && code != kVendorWriteCode)
    return Refuse(why, "vendor driver: unknown I/O control code");
  if (input.size() != kVendorRecord) return Refuse(why, "vendor driver: record is not 24 bytes");
  if (!AllZero(input.subspan(0, 4)) || !AllZero(input.subspan(12, 12)))
    return Refuse(why, "vendor driver: reserved bytes not zero");
  const std::uint8_t requestType = input[4];
  const bool deviceToHost = (requestType & 0x80) != 0;
  if (deviceToHost != (code == kVendorReadCode))
    return Refuse(why, "vendor driver: I/O control code does not match the direction");

  DecodedRequest request;
  request.deviceToHost = deviceToHost;
  request.requestType = requestType;
  request.request = input[5];
  request.value = static_cast<std::uint16_t>(Le(input, 6, 2));
  request.index = static_cast<std::uint16_t>(Le(input, 8, 2));
  request.length = static_cast<std::uint32_t>(output.size());
  const std::uint32_t lengthField = Le(input, 10, 2);

  constexpr std::uint8_t kStandardDeviceIn = 0x80, kGetDescriptor = 0x06;
  if (requestType == kStandardDeviceIn && request.request == kGetDescriptor) {
    if (lengthField != output.size()) return Refuse(why, "vendor driver: descriptor length");
    request.kind = DecodedRequest::Kind::kGetDescriptor;
    return request;
  }
  // The transfer length of a vendor request is the buffer's size; the field stays zero.
  if (lengthField != 0) return Refuse(why, "vendor driver: length field is not zero");
  if (!deviceToHost) request.outData = output;
  return request;
}

std::optional<DecodedRequest> DecodeRequest(std::uint32_t code, std::span<const std::uint8_t> input,
                                            std::span<const std::uint8_t> output,
                                            std::string& why) {
  return code == kKsPropertyCode ? DecodeAudioRequest(code, input, output, why)
                                 : DecodeVendorRequest(code, input, output, why);
}

std::span<const std::uint8_t> SentDataStage(std::uint32_t code, std::span<const std::uint8_t> input,
                                            std::span<const std::uint8_t> output) {
  std::string why;
  const auto request = DecodeRequest(code, input, output, why);
  if (!request || request->deviceToHost) return {};
  return request->outData;
}

}  // namespace qv::drivers
