#include "chip/PlaybackStatus.h"

#include "chip/RegisterMap.h"
#include "chip/Registers.h"

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

constexpr std::string_view kNoRate = "        ";

}  // namespace

bool ReadPlaybackStatus(QuorvexUsb& usb, PlaybackStatus& status) {
  PlaybackStatus read = status;
  const bool fresh = SelectRegisterBank(usb, chip::bank::kMailbox) &&
                     ReadRegister(usb, chip::mailbox::kStatusRate, &read.registers[0]) &&
                     ReadRegister(usb, chip::mailbox::kStatusFormat, &read.registers[1]) &&
                     ReadRegister(usb, chip::mailbox::kStatusFlags, &read.registers[2]);
  if (fresh) status = read;
  return fresh;
}

std::string_view PlaybackRateText(std::size_t index) {
  for (const auto& [at, text] : kRates)
    if (at == index) return text;
  return kNoRate;
}

}  // namespace qv
