#include "chip/IspFlash.h"

#include <algorithm>

#include "chip/RegisterMap.h"
#include "chip/Registers.h"

namespace qv {
namespace {

// Fixed 16-bit keys of the protocol's ISP mode switch.
constexpr std::uint16_t kEnterKeyValue = 0x6A4E, kEnterKeyIndex = 0x1C39;
constexpr std::uint16_t kLeaveKeyValue = 0x3D72, kLeaveKeyIndex = 0x49B6;

// Index of a 0x80 request: whether its bytes end the flash instruction.
constexpr std::uint16_t kInstructionEnds = 1, kInstructionContinues = 0;

struct ReadyPolling {
  int limit;
  std::uint32_t pauseMs;
};
constexpr ReadyPolling kReadPagePolling{100, 1};
constexpr ReadyPolling kReadIdPolling{100, 0};
constexpr ReadyPolling kReadStatusPolling{10, 0};

bool WaitIspReady(QuorvexUsb& usb, Clock* clock, ReadyPolling polling) {
  for (int attempt = 0; attempt < polling.limit; ++attempt) {
    if (ReadIspReady(usb)) return true;
    if (clock && polling.pauseMs) clock->Sleep(polling.pauseMs);
  }
  return false;
}

// Address bits 23-16, 15-8, 7-0; the top byte of the argument is not sent.
std::array<std::uint8_t, 3> AddressBytes(std::uint32_t address) {
  return {static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
          static_cast<std::uint8_t>(address)};
}

bool SendFlashBytes(QuorvexUsb& usb, std::uint16_t index, std::span<std::uint8_t> bytes) {
  return usb.ControlRequest(chip::kRequestTypeOut, chip::kFlashWrite, 0, index, bytes);
}

}  // namespace

bool ReadIspReady(QuorvexUsb& usb) {
  std::uint8_t ready = 0;
  return usb.ControlRequest(chip::kRequestTypeIn, chip::kIspReady, 0, 0, {&ready, 1}) && ready != 0;
}

bool FlashCommandWrite(QuorvexUsb& usb, std::uint8_t instruction,
                       std::span<const std::uint8_t> operands) {
  if (operands.size() > 3) return false;
  std::array<std::uint8_t, 4> bytes{instruction};
  std::copy(operands.begin(), operands.end(), bytes.begin() + 1);
  return SendFlashBytes(usb, kInstructionEnds, std::span(bytes).first(operands.size() + 1));
}

bool FlashCommandRead(QuorvexUsb& usb, std::uint8_t instruction, std::uint8_t count) {
  return usb.ControlRequest(chip::kRequestTypeOut, chip::kFlashCommand, count, kInstructionEnds,
                            {&instruction, 1});
}

bool FlashReadResult(QuorvexUsb& usb, std::span<std::uint8_t> out) {
  if (out.size() > kMaxReadLength) return false;
  return usb.ControlRequest(chip::kRequestTypeIn, chip::kFlashResult, 0, 0, out);
}

bool SetIspMode(QuorvexUsb& usb, bool enter) {
  const bool result = enter ? usb.ControlRequest(chip::kRequestTypeOut, chip::kIspEnter,
                                                 kEnterKeyValue, kEnterKeyIndex, {})
                            : usb.ControlRequest(chip::kRequestTypeOut, chip::kIspLeave,
                                                 kLeaveKeyValue, kLeaveKeyIndex, {});
  // The set-up registers are written whatever the switch answered.
  SetIspRegisters(usb, enter);
  return result;
}

bool SetIspRegisters(QuorvexUsb& usb, bool enter) {
  SelectRegisterBank(usb, chip::bank::kIsp);
  if (enter) {
    WriteRegister(usb, chip::isp::kEnable, 0x10);
    WriteRegister(usb, chip::isp::kMode, 0x03);
  } else {
    WriteRegister(usb, chip::isp::kEnable, 0x00);
  }
  return true;
}

bool FlashReadId(QuorvexUsb& usb, FlashId& FlashChipId) {
  // A failed instruction request shows up as a missing ready signal.
  FlashCommandRead(usb, flash_op::kReadId, 3);
  if (!WaitIspReady(usb, nullptr, kReadIdPolling)) return false;
  return FlashReadResult(usb, FlashChipId);
}

std::uint8_t FlashReadStatus(QuorvexUsb& usb) {
  std::uint8_t status = kFlashStatusUnknown;
  FlashCommandRead(usb, flash_op::kReadStatus, 1);
  if (!WaitIspReady(usb, nullptr, kReadStatusPolling)) return kFlashStatusUnknown;
  FlashReadResult(usb, {&status, 1});
  return status;
}

bool FlashWriteStatus(QuorvexUsb& usb, std::uint8_t value) {
  return FlashCommandWrite(usb, flash_op::kWriteStatus, std::array{value});
}

bool FlashWriteEnable(QuorvexUsb& usb) {
  return FlashCommandWrite(usb, flash_op::kWriteEnable);
}

bool FlashWriteDisable(QuorvexUsb& usb) {
  return FlashCommandWrite(usb, flash_op::kWriteDisable);
}

bool FlashChipErase(QuorvexUsb& usb) {
  return FlashCommandWrite(usb, flash_op::kChipErase);
}

bool FlashSectorErase(QuorvexUsb& usb, std::uint32_t address) {
  return FlashCommandWrite(usb, flash_op::kSectorErase, AddressBytes(address));
}

bool FlashReadPage(QuorvexUsb& usb, Clock& clock, std::uint32_t address,
                   std::span<std::uint8_t> out) {
  if (out.empty() || out.size() > kMaxReadLength) return false;
  const auto a = AddressBytes(address);
  std::array<std::uint8_t, 4> command{flash_op::kRead, a[0], a[1], a[2]};
  if (!usb.ControlRequest(chip::kRequestTypeOut, chip::kFlashCommand,
                          static_cast<std::uint16_t>(out.size()), kInstructionEnds, command))
    return false;
  if (!WaitIspReady(usb, &clock, kReadPagePolling)) return false;
  return FlashReadResult(usb, out);
}

bool FlashProgramPage(QuorvexUsb& usb, std::uint32_t address, std::span<const std::uint8_t> data) {
  if (data.empty() || data.size() > kMaxPageProgramLength) return false;
  const auto a = AddressBytes(address);
  std::array<std::uint8_t, 4> command{flash_op::kPageProgram, a[0], a[1], a[2]};
  SendFlashBytes(usb, kInstructionContinues, command);
  std::array<std::uint8_t, kMaxPageProgramLength> page{};
  std::copy(data.begin(), data.end(), page.begin());
  return SendFlashBytes(usb, kInstructionEnds, std::span(page).first(data.size()));
}

bool FlashProgramWords(QuorvexUsb& usb, std::uint32_t address, std::span<const std::uint8_t> data) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  const auto a = AddressBytes(address);
  std::array<std::uint8_t, 6> first{flash_op::kWordProgram, a[0], a[1], a[2], data[0], data[1]};
  bool result = SendFlashBytes(usb, kInstructionEnds, first);
  // Each further word is the instruction and two data bytes; the chip counts the address on.
  for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
    std::array<std::uint8_t, 3> word{flash_op::kWordProgram, data[i + 2], data[i + 3]};
    result = SendFlashBytes(usb, kInstructionEnds, word);
  }
  return result;
}

}  // namespace qv
