#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/Guid.h"

// The drivers' side of the two request encodings: what the simulated drivers, the request trace
// and the libusb port read from a record. Read from the byte layouts on their own, so that a
// fault in the host's encoder shows up as a refused request instead of being mirrored.
namespace qv::drivers {

inline constexpr Guid kAudioClass{
    0x7E2C4D91, 0x5A3B, 0x4C6E, {0x8F, 0x17, 0x0B, 0x9D, 0x2A, 0x6E, 0x5C, 0x34}};
inline constexpr Guid kUsbDeviceClass{
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
inline constexpr Guid kVendorSet{
    0x3B1E7A52, 0x9C4D, 0x4F08, {0xA6, 0xE1, 0x72, 0xD5, 0xC0, 0x8B, 0x4E, 0x19}};

inline constexpr std::uint32_t kKsPropertyCode = 0x2F0003;
inline constexpr std::uint32_t kVendorReadCode = 0x22242E;
inline constexpr std::uint32_t kVendorWriteCode = 0x222429;

// What a driver understood from one I/O control call.
struct DecodedRequest {
  enum class Kind {
    kControl,          // a vendor control transfer for the chip
    kPropertySupport,  // the audio driver's "is the vendor property set supported" query
    kGetDescriptor,    // the standard device descriptor request of the vendor driver
  };
  Kind kind = Kind::kControl;
  bool deviceToHost = false;
  // Only the vendor driver carries the request type; the audio path knows just the direction.
  std::optional<std::uint8_t> requestType;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint32_t length = 0;               // bytes of the data stage
  std::span<const std::uint8_t> outData;  // host-to-device data stage
};

// Decodes a request of the audio driver (kernel-streaming property). nullopt with a reason when
// a real driver would refuse it.
std::optional<DecodedRequest> DecodeAudioRequest(std::uint32_t code,
                                                 std::span<const std::uint8_t> input,
                                                 std::span<const std::uint8_t> output,
                                                 std::string& why);

// Decodes a request of the vendor USB driver.
std::optional<DecodedRequest> DecodeVendorRequest(std::uint32_t code,
                                                  std::span<const std::uint8_t> input,
                                                  std::span<const std::uint8_t> output,
                                                  std::string& why);

// Decodes a request of either driver: the I/O control code tells which one it is meant for.
std::optional<DecodedRequest> DecodeRequest(std::uint32_t code, std::span<const std::uint8_t> input,
                                            std::span<const std::uint8_t> output, std::string& why);

// The data stage a host-to-device request sends: drivers read it from the output buffer, so it is
// part of what was asked, and only a decoded record says how much of the buffer it is. Empty for
// a request that reads from the device or that no driver would take.
std::span<const std::uint8_t> SentDataStage(std::uint32_t code, std::span<const std::uint8_t> input,
                                            std::span<const std::uint8_t> output);

}  // namespace qv::drivers
