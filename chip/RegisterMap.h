#pragma once

#include <cstdint>

// The chip's vendor requests and the registers the tool relies on.
namespace qv::chip {

inline constexpr std::uint8_t kRequestTypeOut = 0x43;  // host-to-device, vendor, other
inline constexpr std::uint8_t kRequestTypeIn = 0xC3;   // device-to-host, vendor, other

enum Request : std::uint8_t {
  kFlashWrite = 0x80,    // serial-flash instruction and operands
  kFlashCommand = 0x81,  // serial-flash instruction whose answer the chip collects
  kFlashResult = 0x82,   // fetch the collected answer
  kIspReady = 0x83,      // ISP ready byte
  kIspEnter = 0x84,
  kIspLeave = 0x85,
  kRegisterWrite = 0x90,
  kRegisterRead = 0x91,
};

inline constexpr std::uint16_t kBankSelect = 0x00;

namespace bank {
inline constexpr std::uint8_t kMailbox = 0;
inline constexpr std::uint8_t kIsp = 13;
inline constexpr std::uint8_t kI2c = 14;
}  // namespace bank

// Bank 0: the firmware's mailbox, playback status and version.
namespace mailbox {
inline constexpr std::uint16_t kCommand = 0x90;
inline constexpr std::uint16_t kArgument1 = 0x91;
inline constexpr std::uint16_t kArgument2 = 0x92;
inline constexpr std::uint16_t kData0 = 0x93;
inline constexpr std::uint16_t kDataCount = 8;
inline constexpr std::uint16_t kStatusRate = 0xA4;
inline constexpr std::uint16_t kStatusFormat = 0xA5;
inline constexpr std::uint16_t kStatusFlags = 0xA6;
inline constexpr std::uint16_t kVersionMajor = 0xAE;
inline constexpr std::uint16_t kVersionMinor = 0xAF;
}  // namespace mailbox

// Bank 13: ISP set-up.
namespace isp {
inline constexpr std::uint16_t kMode = 0x01;
inline constexpr std::uint16_t kEnable = 0x07;
}  // namespace isp

// Bank 14: the I2C master engine.
namespace i2c {
inline constexpr std::uint16_t kControl = 0x10;  // write: control, read: status
inline constexpr std::uint16_t kSetup = 0x11;
inline constexpr std::uint16_t kTransmit = 0x12;
inline constexpr std::uint16_t kReceive = 0x13;
inline constexpr std::uint16_t kTransfer = 0x14;
}  // namespace i2c

}  // namespace qv::chip
