#include "chip/MediaKeys.h"

#include <array>

#include "chip/RegisterMap.h"
#include "chip/Registers.h"

namespace qv {
namespace {

constexpr std::uint8_t kKeyCommand = 0x30, kKeyDone = 0x31;
// The firmware acts on a key within a few milliseconds; after ten polls 10 ms apart it is
// taken not to.
constexpr int kKeyPolls = 10;
constexpr std::uint32_t kKeyPollPauseMs = 10;

constexpr std::array<MediaKey, 5> kKeys = {{
    {.name = "prev", .caption = "HID Prev", .code = 0x40},
    {.name = "vol-", .caption = "HID Vol -", .code = 0x02},
    {.name = "play", .caption = "HID Play", .code = 0x10},
    {.name = "vol+", .caption = "HID Vol +", .code = 0x01},
    {.name = "next", .caption = "HID Next", .code = 0x20},
}};

}  // namespace

std::span<const MediaKey> MediaKeys() {
  return kKeys;
}

bool SendMediaKey(QuorvexUsb& usb, Clock& clock, std::uint8_t code) {
  // Without bank 0 the key code and the command would land in another bank's registers.
  const bool sent = SelectRegisterBank(usb, chip::bank::kMailbox) &&
                    WriteRegister(usb, chip::mailbox::kArgument1, code) &&
                    WriteRegister(usb, chip::mailbox::kCommand, kKeyCommand);
  if (!sent) return false;
  for (int poll = 0; poll < kKeyPolls; ++poll) {
    clock.Sleep(kKeyPollPauseMs);
    std::uint8_t status = 0;
    if (ReadRegister(usb, chip::mailbox::kCommand, &status) && status == kKeyDone) return true;
  }
  return false;
}

}  // namespace qv
