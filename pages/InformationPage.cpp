// The "Information" page: the device's playback status on request, and the five HID media keys.
#include <array>
#include <string>

#include "app/DeviceActivity.h"
#include "app/Unit1.h"
#include "chip/MediaKeys.h"
#include "chip/PlaybackStatus.h"

namespace qv {

void TForm1::btnUpdateStatusClick(ui::Control&) {
  DeviceActivity activity(app);
  if (!activity) return;
  core.UsbDevice.Open();
  // The stored status changes only with a whole, fresh one.
  const bool read = ReadPlaybackStatus(core.UsbDevice, app.PlaybackStatus);
  core.UsbDevice.Close();

  const PlaybackStatus& status = app.PlaybackStatus;
  const std::array<ui::Label*, 4> formatLabels = {lblCurrentFormat0, lblCurrentFormat1,
                                                  lblCurrentFreq0, lblCurrentFreq1};
  const auto enableFormat = [&](bool enabled) {
    for (ui::Label* label : formatLabels) label->SetEnabled(enabled);
  };
  // A status that could not be read is not shown as the device's: every text is greyed, as the
  // texts that do not apply to a disconnected device are.
  lblConnect->SetEnabled(read);
  if (!read) {
    lblMute->SetEnabled(false);
    enableFormat(false);
    return;
  }
  if (!status.Connected()) {
    lblConnect->SetCaption(app.Texts.UsbDisconnected);
    lblMute->SetEnabled(false);
    enableFormat(false);
    return;
  }
  lblConnect->SetCaption(app.Texts.UsbConnected);
  lblMute->SetEnabled(true);
  if (status.Muted()) {
    lblMute->SetCaption(app.Texts.Mute);
    enableFormat(false);
    return;
  }
  lblMute->SetCaption(app.Texts.Playing);
  enableFormat(true);
  lblCurrentFormat1->SetCaption(status.DsdInput() ? app.Texts.Dsd : app.Texts.Pcm);
  lblCurrentFreq1->SetCaption(app.Texts.RateTexts[status.RateIndex()]);
}

void TForm1::btnHIDClick(ui::Control& Sender) {
  const auto keys = MediaKeys();
  std::size_t index = 0;
  while (index < keys.size() && Find<ui::Button>("btnHID" + std::to_string(index)) != &Sender)
    ++index;
  if (index == keys.size()) return;
  DeviceActivity activity(app);
  if (!activity) return;
  core.UsbDevice.Open();
  SendMediaKey(core.UsbDevice, core.clock, keys[index].code);
  core.UsbDevice.Close();
}

}  // namespace qv
