#include "app/InformationTexts.h"

#include "chip/PlaybackStatus.h"

namespace qv {

InformationTexts::InformationTexts()
    : UsbConnected("USB connected"),
      UsbDisconnected("USB Disconnected"),
      Playing("Playing"),
      Mute("Mute"),
      Pcm("PCM"),
      Dsd("DSD") {
  for (std::size_t i = 0; i < RateTexts.size(); ++i) RateTexts[i] = PlaybackRateText(i);
}

}  // namespace qv
