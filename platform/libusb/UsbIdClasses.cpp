#include "platform/libusb/UsbIdClasses.h"

#include <algorithm>

#include "platform/DriverRecords.h"
#include "util/Text.h"

namespace qv::usb {
namespace {

bool Holds(const std::vector<std::string>& ids, const std::string& idText) {
  return std::find(ids.begin(), ids.end(), idText) != ids.end();
}

}  // namespace

std::string IdText(std::uint16_t vendorId, std::uint16_t productId) {
  return LowerAscii("vid_" + FormatHex(vendorId, 4) + "&pid_" + FormatHex(productId, 4));
}

const std::vector<std::string>& UsbIdClasses::IdsOf(const Guid& interfaceClass) const {
  static const std::vector<std::string> kNone;
  if (interfaceClass == drivers::kAudioClass) return audio;
  if (interfaceClass == drivers::kUsbDeviceClass) return update;
  return kNone;
}

bool UsbIdClasses::IsAudio(const std::string& idText) const {
  return Holds(audio, idText);
}

bool UsbIdClasses::IsUpdate(const std::string& idText) const {
  return Holds(update, idText);
}

}  // namespace qv::usb
