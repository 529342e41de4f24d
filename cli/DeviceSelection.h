#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DeviceInterfaces.h"
#include "transport/QuorvexUsb.h"

namespace qv::cli {

// One present interface whose path holds an id the tool knows.
struct PresentDevice {
  std::string name;       // the model's display name, or "Firmware update device E6A4"
  std::string matchText;  // "vid_e5d3&pid_7a01"
  std::uint8_t useAudioDriver = 0;
  std::string path;
};

// Every present device of a known id, as polling would find it: the model table's ids through
// the audio interface class, then both update ids through the USB device class. Ids are matched
// case-sensitively anywhere in the path, as discovery does. Sends nothing.
std::vector<PresentDevice> FindPresentDevices(DeviceInterfaces& interfaces);

// Points the connection at one device and probes it as discovery does; true when it answered.
bool ProbePresentDevice(QuorvexUsb& usb, const PresentDevice& device);

// "E5D3:7A01" (any case) becomes the match text "vid_e5d3&pid_7a01"; any other text is a part of
// an interface path to look for, as it is.
std::string DeviceMatchText(std::string_view text);

struct Selection {
  std::optional<PresentDevice> device;
  bool ambiguous = false;  // several devices fit: the user has to name one
  std::string message;     // why nothing was selected
};

// The one present device, or the one whose path contains `match`. Never guesses between several.
Selection SelectDevice(const std::vector<PresentDevice>& present,
                       const std::optional<std::string>& match);

// "Brevanto RX1  vid_e5d3&pid_7a01  audio driver  \\?\usb#..." for listings.
std::string DescribeDevice(const PresentDevice& device);

}  // namespace qv::cli
