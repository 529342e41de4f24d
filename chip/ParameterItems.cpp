#include "chip/ParameterItems.h"

#include <algorithm>

#include "chip/ParameterRequest.h"

namespace qv {
namespace {

constexpr std::size_t kChunk = parameter::kMaxLength;  // the mailbox's data registers
constexpr std::size_t kChunks = 4;
// The firmware writes each chunk to its EEPROM before it takes the next.
constexpr std::uint32_t kChunkPauseMs = 50;

}  // namespace

IdRecord MakeIdRecord(std::string_view text) {
  IdRecord record{};
  for (std::size_t i = 0; i < record.size() && i < text.size(); ++i)
    record[i] = static_cast<std::uint8_t>(text[i]);
  return record;
}

bool SendId(QuorvexUsb& usb, Clock& clock, unsigned item, std::string_view text) {
  IdRecord record = MakeIdRecord(text);
  return ParameterRequest(usb, clock, parameter::kCommand, item, 0, record.size(), record.data());
}

bool SendString(QuorvexUsb& usb, Clock& clock, unsigned item, std::string_view text) {
  const std::size_t length = std::min(text.size(), kMaxParameterStringLength);
  std::array<std::uint8_t, kMaxParameterStringLength + 1> record{};
  record[0] = static_cast<std::uint8_t>(length);
  std::copy_n(text.begin(), length, record.begin() + 1);
  const std::size_t total = length + 1;
  for (std::size_t k = 0; k < kChunks && total > kChunk * k; ++k) {
    const std::size_t n = total > kChunk * (k + 1) ? kChunk : total - kChunk * k;
    const bool completed =
        ParameterRequest(usb, clock, parameter::kCommand, item, static_cast<unsigned>(k),
                         static_cast<std::uint8_t>(n), record.data() + kChunk * k);
    clock.Sleep(kChunkPauseMs);
    // The later chunks would be stored behind one the firmware does not have.
    if (!completed) return false;
  }
  return true;
}

bool WriteSettings(QuorvexUsb& usb, Clock& clock, SettingsRecord record) {
  return ParameterRequest(usb, clock, parameter::kCommand, parameter::kSettingsWrite, 0,
                          record.size(), record.data());
}

bool ReadSettings(QuorvexUsb& usb, Clock& clock, SettingsRecord& record) {
  return ParameterRequest(usb, clock, parameter::kCommand, parameter::kSettingsRead, 0,
                          record.size(), record.data());
}

}  // namespace qv
