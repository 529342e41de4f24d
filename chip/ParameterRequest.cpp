#include "chip/ParameterRequest.h"

#include <algorithm>
#include <array>
#include <span>

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

// The exchange on the open connection. It stops at the first failed request: with the bank not
// selected the writes would land in another bank's registers, and a command that did not arrive
// has nothing to wait for.
bool Exchange(QuorvexUsb& usb, Clock& clock, unsigned command, unsigned item, unsigned chunk,
              std::span<std::uint8_t> data, bool read) {
  if (!SelectRegisterBank(usb, chip::bank::kMailbox)) return false;
  if (!read) {
    for (std::size_t i = 0; i < data.size(); ++i)
      if (!WriteRegister(usb, chip::mailbox::kData0 + static_cast<std::uint16_t>(i), data[i]))
        return false;
  }
  if (!WriteRegister(usb, chip::mailbox::kArgument1, item) ||
      !WriteRegister(usb, chip::mailbox::kArgument2, chunk) ||
      !WriteRegister(usb, chip::mailbox::kCommand, command))
    return false;
  const bool completed = WaitForCompletion(usb, clock);
  if (!read) {
    // Clears the command so the next exchange starts from an idle mailbox, also after a time-out.
    // A read leaves it as the firmware set it.
    return WriteRegister(usb, chip::mailbox::kCommand, 0) && completed;
  }
  // Without the completion the data registers still hold an earlier exchange's bytes, which
  // must not be taken for this one's: the caller's bytes stay as they were.
  if (!completed) return false;
  std::array<std::uint8_t, parameter::kMaxLength> fetched{};
  for (std::size_t i = 0; i < data.size(); ++i)
    if (!ReadRegister(usb, chip::mailbox::kData0 + static_cast<std::uint16_t>(i), &fetched[i]))
      return false;
  std::copy_n(fetched.begin(), data.size(), data.begin());
  return true;
}

}  // namespace

bool ParameterRequest(QuorvexUsb& usb, Clock& clock, unsigned command, unsigned item,
                      unsigned chunk, std::uint8_t length, std::uint8_t* data) {
  if (length > parameter::kMaxLength || (length > 0 && data == nullptr)) return false;
  const bool read = (item & parameter::kReadBit) != 0;
  if (!usb.Open()) return false;
  const bool done = Exchange(usb, clock, command, item, chunk, {data, length}, read);
  usb.Close();
  return done;
}

}  // namespace qv
