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
  // What tells this plugging-in from another at the same path (DeviceInterfaces::Arrival).
  std::string arrival;
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

// Whether `wanted` names the device: its display name as a listing shows it, VID:PID, its match
// text or any part of its interface path, all in any letter case (Windows does not tell paths
// apart by case either).
bool DeviceMatches(const PresentDevice& device, std::string_view wanted);

struct Selection {
  std::optional<PresentDevice> device;
  bool ambiguous = false;  // several devices fit: the user has to name one
  std::string message;     // why nothing was selected
};

// The one present device, or the one `wanted` names. Never guesses between several: the message
// then lists them, each with the part of its path that tells it apart.
Selection SelectDevice(const std::vector<PresentDevice>& present,
                       const std::optional<std::string>& wanted);

// The pieces of the device's interface path ('#'-separated) in which it differs from another of
// `devices`, for choosing it with --device: "5&2c3d4e5f&0&3".
std::string DistinguishingPart(const PresentDevice& device,
                               const std::vector<const PresentDevice*>& devices);

// Whether the device's interface is still present (it may have left during a command).
bool StillPresent(DeviceInterfaces& interfaces, const PresentDevice& device);

// "Brevanto RX1  vid_e5d3&pid_7a01  audio driver  \\?\usb#..." for listings.
std::string DescribeDevice(const PresentDevice& device);

}  // namespace qv::cli
