#include "chip/Registers.h"

#include "chip/RegisterMap.h"

namespace qv {

bool ReadRegister(QuorvexUsb& usb, std::uint16_t address, std::uint8_t* out) {
  std::uint8_t answer = *out;
  if (!usb.ControlRequest(chip::kRequestTypeIn, chip::kRegisterRead, 0, address, {&answer, 1}))
    return false;
  *out = answer;
  return true;
}

bool WriteRegister(QuorvexUsb& usb, std::uint16_t address, unsigned value) {
  std::uint8_t byte = static_cast<std::uint8_t>(value & 0xFF);
  return usb.ControlRequest(chip::kRequestTypeOut, chip::kRegisterWrite, 0, address, {&byte, 1});
}

bool SelectRegisterBank(QuorvexUsb& usb, std::uint8_t bank) {
  return WriteRegister(usb, chip::kBankSelect, bank);
}

ReadBack WriteAndReadBack(QuorvexUsb& usb, Clock& clock, std::uint16_t address, std::uint8_t* value,
                          std::uint32_t pauseMs) {
  const bool written = WriteRegister(usb, address, *value);
  clock.Sleep(pauseMs);
  const bool read = ReadRegister(usb, address, value);
  return {.written = written, .read = read};
}

}  // namespace qv
