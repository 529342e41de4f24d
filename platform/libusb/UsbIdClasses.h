#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Guid.h"

namespace qv::usb {

// "vid_e5d3&pid_7a01": a device's ids as interface paths and the model table write them.
std::string IdText(std::uint16_t vendorId, std::uint16_t productId);

// Which devices show up in which interface class, as the Windows drivers register them: the
// model table's ids in the audio driver's class, the firmware-update ids in the USB device class.
// A device with any other id is never listed nor opened.
struct UsbIdClasses {
  std::vector<std::string> audio;   // id texts, "vid_e5d3&pid_7a01"
  std::vector<std::string> update;  // "vid_e6a4&pid_6000", "vid_e7b2&pid_6000"

  // The ids of a class; empty for a class no driver of these devices registers.
  const std::vector<std::string>& IdsOf(const Guid& interfaceClass) const;
  bool IsAudio(const std::string& idText) const;
  bool IsUpdate(const std::string& idText) const;
};

}  // namespace qv::usb
