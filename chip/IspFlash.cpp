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
    if (usb.Unreachable()) return false;
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
  // A driver may have filled part of the buffer before the request failed: the caller's bytes
  // change only with a whole answer.
  std::array<std::uint8_t, kMaxReadLength> answer{};
  const auto fetched = std::span(answer).first(out.size());
  if (!usb.ControlRequest(chip::kRequestTypeIn, chip::kFlashResult, 0, 0, fetched)) return false;
  std::copy(fetched.begin(), fetched.end(), out.begin());
  return true;
}

bool SetIspMode(QuorvexUsb& usb, bool enter) {
  const bool switched = enter ? usb.ControlRequest(chip::kRequestTypeOut, chip::kIspEnter,
                                                   kEnterKeyValue, kEnterKeyIndex, {})
                              : usb.ControlRequest(chip::kRequestTypeOut, chip::kIspLeave,
                                                   kLeaveKeyValue, kLeaveKeyIndex, {});
  // The set-up registers are written whatever the switch answered.
  const bool registers = SetIspRegisters(usb, enter);
  return switched && registers;
}

bool SetIspRegisters(QuorvexUsb& usb, bool enter) {
  // Without the bank selected the writes would land in whatever bank was selected before.
  if (!SelectRegisterBank(usb, chip::bank::kIsp)) return false;
  if (!enter) return WriteRegister(usb, chip::isp::kEnable, 0x00);
  return WriteRegister(usb, chip::isp::kEnable, 0x10) && WriteRegister(usb, chip::isp::kMode, 0x03);
}

// A failed instruction request leaves the chip ready with the answer of the instruction before,
// which must never be taken for this one's: the command then fails at once.
bool FlashReadId(QuorvexUsb& usb, FlashId& FlashChipId) {
  if (!FlashCommandRead(usb, flash_op::kReadId, 3)) return false;
  if (!WaitIspReady(usb, nullptr, kReadIdPolling)) return false;
  return FlashReadResult(usb, FlashChipId);
}

std::uint8_t FlashReadStatus(QuorvexUsb& usb) {
  std::uint8_t status = kFlashStatusUnknown;
  return FlashReadStatus(usb, status) ? status : kFlashStatusUnknown;
}

bool FlashReadStatus(QuorvexUsb& usb, std::uint8_t& status) {
  return FlashCommandRead(usb, flash_op::kReadStatus, 1) &&
         WaitIspReady(usb, nullptr, kReadStatusPolling) && FlashReadResult(usb, {&status, 1});
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
  // Without the instruction and address before them, the ending request's data bytes would be
  // executed as an instruction of their own (02 programs elsewhere, C7 erases the chip).
  if (!SendFlashBytes(usb, kInstructionContinues, command)) return false;
  std::array<std::uint8_t, kMaxPageProgramLength> page{};
  std::copy(data.begin(), data.end(), page.begin());
  return SendFlashBytes(usb, kInstructionEnds, std::span(page).first(data.size()));
}

bool FlashProgramWords(QuorvexUsb& usb, std::uint32_t address, std::span<const std::uint8_t> data) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  const auto a = AddressBytes(address);
  std::array<std::uint8_t, 6> first{flash_op::kWordProgram, a[0], a[1], a[2], data[0], data[1]};
  if (!SendFlashBytes(usb, kInstructionEnds, first)) return false;
  // Each further word is the instruction and two data bytes; the chip counts the address on. A
  // word that did not arrive would shift every later one to the wrong address: stop there.
  for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
    std::array<std::uint8_t, 3> word{flash_op::kWordProgram, data[i + 2], data[i + 3]};
    if (!SendFlashBytes(usb, kInstructionEnds, word)) return false;
  }
  return true;
}

}  // namespace qv
