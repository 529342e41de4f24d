#include "app/InformationTexts.h"

#include <string_view>
#include <utility>

namespace qv {

namespace {

struct RateEntry {
  std::size_t index;
  std::string_view text;
};

constexpr RateEntry kRates[] = {
    {0, " 44.1KHz"},  {1, "   48KHz"},  {2, " 88.2KHz"},  {3, "   96KHz"},  {4, "176.4KHz"},
    {5, "  192KHz"},  {6, "352.8KHz"},  {7, "  384KHz"},  {8, "705.6KHz"},  {9, "  768KHz"},
    {16, " DoP  64"}, {17, " DoP 128"}, {18, " DoP 256"}, {19, " DoP 512"}, {24, " DSD  64"},
    {25, " DSD 128"}, {26, " DSD 256"}, {27, " DSD 512"},
};

}  // namespace

InformationTexts::InformationTexts()
    : UsbConnected("USB connected"),
      UsbDisconnected("USB Disconnected"),
      Playing("Playing"),
      Mute("Mute"),
      Pcm("PCM"),
      Dsd("DSD") {
  RateTexts.fill(std::string(kRateTextWidth, ' '));
  for (const auto& [index, text] : kRates) RateTexts[index] = std::string(text);
}

}  // namespace qv
