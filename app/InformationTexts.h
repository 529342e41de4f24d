#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace qv {

// Rate texts are exactly this wide, right-aligned.
inline constexpr std::size_t kRateTextWidth = 8;

// The status texts of the information page, prepared once at start.
struct InformationTexts {
  InformationTexts();

  std::string UsbConnected;
  std::string UsbDisconnected;
  std::string Playing;
  std::string Mute;
  std::string Pcm;
  std::string Dsd;
  // Index: rate code (0..15) + 16 when the input is DSD. Codes without a rate read as blanks.
  std::array<std::string, 32> RateTexts;
};

}  // namespace qv
