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
// The block-protect bits of every part the tool knows (BP0 to BP3): while any is set the part
// ignores a chip erase.
inline constexpr std::uint8_t kFlashStatusBlockProtect = 0x3C;
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
// Fetches the collected answer; `out` keeps its bytes unless the whole answer arrived.
bool FlashReadResult(QuorvexUsb& usb, std::span<std::uint8_t> out);

// ISP mode: the switch request, then the set-up registers of bank 13 whatever the switch
// answered. True when every request succeeded.
bool SetIspMode(QuorvexUsb& usb, bool enter);
bool SetIspRegisters(QuorvexUsb& usb, bool enter);

// Flash commands. Each stops at its first failed request: nothing more is sent, and no earlier
// answer is taken for the one that failed.
// Fills FlashChipId only with a fresh answer; false (and FlashChipId unchanged) otherwise.
bool FlashReadId(QuorvexUsb& usb, FlashId& FlashChipId);
// The status byte; kFlashStatusUnknown (busy bit set) when it could not be read.
std::uint8_t FlashReadStatus(QuorvexUsb& usb);
// The status byte into `status` only when a fresh one arrived; false otherwise.
bool FlashReadStatus(QuorvexUsb& usb, std::uint8_t& status);
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
