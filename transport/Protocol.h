#pragma once

#include <cstdint>

#include "platform/Guid.h"

// Fixed values of the device's request protocol: interface classes, the vendor property set and
// the I/O control codes of the two request paths.
namespace qv::protocol {

// Interface class of the vendor audio driver (requests as kernel-streaming properties).
inline constexpr Guid kAudioInterfaceClass{
    0x7E2C4D91, 0x5A3B, 0x4C6E, {0x8F, 0x17, 0x0B, 0x9D, 0x2A, 0x6E, 0x5C, 0x34}};
// GUID_DEVINTERFACE_USB_DEVICE (requests through the vendor USB driver).
inline constexpr Guid kUsbDeviceInterfaceClass{
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
// The vendor property set carried through the audio driver.
inline constexpr Guid kVendorPropertySet{
    0x3B1E7A52, 0x9C4D, 0x4F08, {0xA6, 0xE1, 0x72, 0xD5, 0xC0, 0x8B, 0x4E, 0x19}};

inline constexpr std::uint32_t kVendorPropertyId = 7;
inline constexpr std::uint32_t kPropertyGet = 0x1;           // KSPROPERTY_TYPE_GET
inline constexpr std::uint32_t kPropertySet = 0x2;           // KSPROPERTY_TYPE_SET
inline constexpr std::uint32_t kPropertySetSupport = 0x100;  // KSPROPERTY_TYPE_SETSUPPORT
inline constexpr std::uint8_t kPropertyRequestMarker = 0x20;

inline constexpr std::uint32_t kIoctlKsProperty = 0x2F0003;
inline constexpr std::uint32_t kIoctlVendorIn = 0x22242E;   // device-to-host
inline constexpr std::uint32_t kIoctlVendorOut = 0x222429;  // host-to-device

inline constexpr std::size_t kControlRecordSize = 24;
inline constexpr std::size_t kPropertyHeaderSize = 24;  // a bare KSPROPERTY
inline constexpr std::size_t kPropertyPayloadOffset = 40;

// Bit 7 of bmRequestType: the data stage flows from the device to the host.
inline constexpr bool IsDeviceToHost(std::uint8_t requestType) {
  return (requestType & 0x80) != 0;
}

// Firmware-update ids of the vendor driver path.
inline constexpr const char* kUpdateMatchE6A4 = "vid_e6a4&pid_6000";
inline constexpr const char* kUpdateMatchE7B2 = "vid_e7b2&pid_6000";

}  // namespace qv::protocol
