#include "chip/ParameterRequest.h"

#include "chip/RegisterMap.h"
#include "chip/Registers.h"

namespace qv {
namespace {

bool WaitForCompletion(QuorvexUsb& usb, Clock& clock) {
  for (int round = 0; round < parameter::kCompletionRounds; ++round) {
    clock.Sleep(static_cast<std::uint32_t>(parameter::kCompletionPause.count()));
    std::uint8_t status = 0;  // a failed read counts as not complete
    if (ReadRegister(usb, chip::mailbox::kCommand, &status) && status == parameter::kCompleted)
      return true;
  }
  return false;
}

}  // namespace

bool ParameterRequest(QuorvexUsb& usb, Clock& clock, unsigned command, unsigned item,
                      unsigned chunk, std::uint8_t length, std::uint8_t* data) {
  if (length > parameter::kMaxLength || (length > 0 && data == nullptr)) return false;
  const bool read = (item & parameter::kReadBit) != 0;

  // Each step runs whatever the earlier ones gave, so the device sees the whole exchange.
  bool ok = usb.Open();
  ok = SelectRegisterBank(usb, chip::bank::kMailbox) && ok;
  if (!read) {
    for (std::uint8_t i = 0; i < length; ++i)
      ok = WriteRegister(usb, chip::mailbox::kData0 + i, data[i]) && ok;
  }
  ok = WriteRegister(usb, chip::mailbox::kArgument1, item) && ok;
  ok = WriteRegister(usb, chip::mailbox::kArgument2, chunk) && ok;
  ok = WriteRegister(usb, chip::mailbox::kCommand, command) && ok;
  ok = WaitForCompletion(usb, clock) && ok;
  if (read) {
    for (std::uint8_t i = 0; i < length; ++i)
      ok = ReadRegister(usb, chip::mailbox::kData0 + i, data + i) && ok;
  } else {
    // Clears the completion code so the next exchange starts from an idle mailbox. A read
    // leaves it as the firmware set it.
    ok = WriteRegister(usb, chip::mailbox::kCommand, 0) && ok;
  }
  usb.Close();
  return ok;
}

}  // namespace qv
