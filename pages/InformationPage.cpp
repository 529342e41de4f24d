// The "Information" page: the device's playback status on request, and the five HID media keys.
#include <array>
#include <string>

#include "app/DeviceActivity.h"
#include "app/Unit1.h"
#include "chip/RegisterMap.h"
#include "chip/Registers.h"

namespace qv {
namespace {

constexpr std::uint8_t kConnected = 0x01, kDsdInput = 0x02, kMuted = 0x04;
constexpr std::uint8_t kKeyCommand = 0x30, kKeyDone = 0x31;
// The firmware acts on a key within a few milliseconds; after ten polls 10 ms apart it is
// taken not to.
constexpr int kKeyPolls = 10;
constexpr std::uint32_t kKeyPollPauseMs = 10;

constexpr std::array<std::uint8_t, 5> kKeyCodes = {0x40, 0x02, 0x10, 0x01, 0x20};

}  // namespace

void TForm1::btnUpdateStatusClick(ui::Control&) {
  DeviceActivity activity(app);
  if (!activity) return;
  QuorvexUsb& usb = core.UsbDevice;
  std::array<std::uint8_t, 3> read = app.PlaybackStatus;
  usb.Open();
  // Read from bank 0 or not at all: another bank's 0xA4 to 0xA6 would pass for a status. The
  // stored values change only with a whole, fresh status.
  const bool fresh = SelectRegisterBank(usb, chip::bank::kMailbox) &&
                     ReadRegister(usb, chip::mailbox::kStatusRate, &read[0]) &&
                     ReadRegister(usb, chip::mailbox::kStatusFormat, &read[1]) &&
                     ReadRegister(usb, chip::mailbox::kStatusFlags, &read[2]);
  usb.Close();
  if (fresh) app.PlaybackStatus = read;

  const std::uint8_t rate = app.PlaybackStatus[0];
  const std::uint8_t flags = app.PlaybackStatus[2];
  const std::array<ui::Label*, 4> formatLabels = {lblCurrentFormat0, lblCurrentFormat1,
                                                  lblCurrentFreq0, lblCurrentFreq1};
  const auto enableFormat = [&](bool enabled) {
    for (ui::Label* label : formatLabels) label->SetEnabled(enabled);
  };
  if (!(flags & kConnected)) {
    lblConnect->SetCaption(app.Texts.UsbDisconnected);
    lblMute->SetEnabled(false);
    enableFormat(false);
    return;
  }
  lblConnect->SetCaption(app.Texts.UsbConnected);
  lblMute->SetEnabled(true);
  if (flags & kMuted) {
    lblMute->SetCaption(app.Texts.Mute);
    enableFormat(false);
    return;
  }
  lblMute->SetCaption(app.Texts.Playing);
  enableFormat(true);
  const bool dsd = (flags & kDsdInput) != 0;
  lblCurrentFormat1->SetCaption(dsd ? app.Texts.Dsd : app.Texts.Pcm);
  lblCurrentFreq1->SetCaption(app.Texts.RateTexts[(rate & 0x0F) + (dsd ? 16 : 0)]);
}

void TForm1::btnHIDClick(ui::Control& Sender) {
  std::size_t index = 0;
  while (index < kKeyCodes.size() && Find<ui::Button>("btnHID" + std::to_string(index)) != &Sender)
    ++index;
  if (index == kKeyCodes.size()) return;
  DeviceActivity activity(app);
  if (!activity) return;
  QuorvexUsb& usb = core.UsbDevice;
  usb.Open();
  // Without bank 0 the key code and the command would land in another bank's registers.
  const bool sent = SelectRegisterBank(usb, chip::bank::kMailbox) &&
                    WriteRegister(usb, chip::mailbox::kArgument1, kKeyCodes[index]) &&
                    WriteRegister(usb, chip::mailbox::kCommand, kKeyCommand);
  for (int poll = 0; sent && poll < kKeyPolls; ++poll) {
    core.clock.Sleep(kKeyPollPauseMs);
    std::uint8_t status = 0;
    if (ReadRegister(usb, chip::mailbox::kCommand, &status) && status == kKeyDone) break;
  }
  usb.Close();
}

}  // namespace qv
