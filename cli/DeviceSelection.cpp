#include "cli/DeviceSelection.h"

#include <algorithm>
#include <cctype>

#include "app/DeviceModels.h"
#include "transport/Protocol.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

struct KnownId {
  std::string name;
  std::string matchText;
};

// Two display names of the table end in blanks for the window's label; a listing has columns.
std::string TrimRight(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

void AddMatches(std::vector<PresentDevice>& present, const std::vector<std::string>& paths,
                const KnownId& id, std::uint8_t useAudioDriver) {
  for (const std::string& path : paths)
    if (path.find(id.matchText) != std::string::npos)
      present.push_back({id.name, id.matchText, useAudioDriver, path});
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::string Listing(const std::vector<const PresentDevice*>& devices) {
  std::string text;
  for (const PresentDevice* device : devices) text += "\n  " + DescribeDevice(*device);
  return text;
}

}  // namespace

std::vector<PresentDevice> FindPresentDevices(DeviceInterfaces& interfaces) {
  std::vector<PresentDevice> present;
  if (const auto audio = interfaces.PresentPaths(protocol::kAudioInterfaceClass)) {
    for (const DeviceModel& model : DeviceModelTable()) {
      const KnownId id{TrimRight(FieldText(model.DisplayName)),
                       std::string(FieldText(model.MatchText))};
      AddMatches(present, *audio, id, 1);
    }
  }
  if (const auto usb = interfaces.PresentPaths(protocol::kUsbDeviceInterfaceClass)) {
    AddMatches(present, *usb, {"Firmware update device E6A4", protocol::kUpdateMatchE6A4}, 0);
    AddMatches(present, *usb, {"Firmware update device E7B2", protocol::kUpdateMatchE7B2}, 0);
  }
  return present;
}

bool ProbePresentDevice(QuorvexUsb& usb, const PresentDevice& device) {
  usb.SetUseAudioDriver(device.useAudioDriver);
  if (!usb.SetMatchId(device.matchText) || !usb.SetDevicePath(device.path)) return false;
  return usb.ProbeDevice();
}

std::string DeviceMatchText(std::string_view text) {
  const std::size_t colon = text.find(':');
  const auto isId = [](std::string_view part) {
    return part.size() == 4 && ParseUnsigned(part, 16).has_value();
  };
  if (colon != std::string_view::npos && isId(text.substr(0, colon)) &&
      isId(text.substr(colon + 1)))
    return "vid_" + Lower(text.substr(0, colon)) + "&pid_" + Lower(text.substr(colon + 1));
  return std::string(text);
}

Selection SelectDevice(const std::vector<PresentDevice>& present,
                       const std::optional<std::string>& match) {
  std::vector<const PresentDevice*> fitting;
  for (const PresentDevice& device : present)
    if (!match || device.path.find(*match) != std::string::npos) fitting.push_back(&device);

  Selection selection;
  if (fitting.size() == 1) {
    selection.device = *fitting.front();
  } else if (fitting.empty()) {
    std::vector<const PresentDevice*> all;
    for (const PresentDevice& device : present) all.push_back(&device);
    selection.message = !match ? "No device found."
                               : "No device matches '" + *match + "'." +
                                     (all.empty() ? "" : " Present:" + Listing(all));
  } else {
    selection.ambiguous = true;
    selection.message = std::to_string(fitting.size()) +
                        " devices are present; choose one with --device (a match text such "
                        "as vid_e5d3&pid_7a01, VID:PID, or a part of the path):" +
                        Listing(fitting);
  }
  return selection;
}

std::string DescribeDevice(const PresentDevice& device) {
  return device.name + "  " + device.matchText + "  " +
         (device.useAudioDriver ? "audio driver" : "vendor driver") + "  " + device.path;
}

}  // namespace qv::cli
