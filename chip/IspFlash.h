#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/Clock.h"
#include "transport/QuorvexUsb.h"

// The chip's ISP mode and the serial-flash instructions it passes through to the flash. The
// caller opens the connection; waiting for an erase or program to finish is the caller's too.
namespace qv {

// Standard serial-flash instruction codes.
namespace flash_op {
inline constexpr std::uint8_t kWriteStatus = 0x01;
inline constexpr std::uint8_t kPageProgram = 0x02;
inline constexpr std::uint8_t kRead = 0x03;
inline constexpr std::uint8_t kWriteDisable = 0x04;
inline constexpr std::uint8_t kReadStatus = 0x05;
inline constexpr std::uint8_t kWriteEnable = 0x06;
inline constexpr std::uint8_t kSectorErase = 0x20;
inline constexpr std::uint8_t kReadId = 0x9F;
inline constexpr std::uint8_t kWordProgram = 0xAD;  // auto-address-increment word program
inline constexpr std::uint8_t kChipErase = 0xC7;
}  // namespace flash_op

// Manufacturer id, memory type, capacity, in the order the flash returns them.
using FlashId = std::array<std::uint8_t, 3>;

inline constexpr std::uint8_t kFlashStatusBusy = 0x01;
inline constexpr std::uint8_t kFlashStatusUnknown = 0xFF;  // what a status read gives on failure
inline constexpr std::size_t kMaxReadLength = 255;
inline constexpr std::size_t kMaxPageProgramLength = 256;

// Transport of flash instructions.
bool ReadIspReady(QuorvexUsb& usb);
// The instruction and up to three operand bytes, ending the flash instruction.
bool FlashCommandWrite(QuorvexUsb& usb, std::uint8_t instruction,
                       std::span<const std::uint8_t> operands = {});
// An instruction whose `count` answer bytes the chip collects.
bool FlashCommandRead(QuorvexUsb& usb, std::uint8_t instruction, std::uint8_t count);
bool FlashReadResult(QuorvexUsb& usb, std::span<std::uint8_t> out);

// ISP mode.
bool SetIspMode(QuorvexUsb& usb, bool enter);
bool SetIspRegisters(QuorvexUsb& usb, bool enter);

// Flash commands.
bool FlashReadId(QuorvexUsb& usb, FlashId& FlashChipId);
std::uint8_t FlashReadStatus(QuorvexUsb& usb);
bool FlashWriteStatus(QuorvexUsb& usb, std::uint8_t value);
bool FlashWriteEnable(QuorvexUsb& usb);
bool FlashWriteDisable(QuorvexUsb& usb);
bool FlashChipErase(QuorvexUsb& usb);
bool FlashSectorErase(QuorvexUsb& usb, std::uint32_t address);
// Reads 1 to 255 bytes at address into out; other lengths are refused with nothing sent.
bool FlashReadPage(QuorvexUsb& usb, Clock& clock, std::uint32_t address,
                   std::span<std::uint8_t> out);
// One page program instruction of 1 to 256 bytes.
bool FlashProgramPage(QuorvexUsb& usb, std::uint32_t address, std::span<const std::uint8_t> data);
// Auto-address-increment word program of an even number (at least 2) of bytes.
bool FlashProgramWords(QuorvexUsb& usb, std::uint32_t address, std::span<const std::uint8_t> data);

}  // namespace qv
