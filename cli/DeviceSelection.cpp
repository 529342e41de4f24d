#include "cli/DeviceSelection.h"

#include <algorithm>

#include "app/DeviceModels.h"
#include "transport/Protocol.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

struct KnownId {
  std::string name;
  std::string matchText;
};

void AddMatches(std::vector<PresentDevice>& present, DeviceInterfaces& interfaces,
                const std::vector<std::string>& paths, const KnownId& id,
                std::uint8_t useAudioDriver) {
  for (const std::string& path : paths)
    if (path.find(id.matchText) != std::string::npos)
      present.push_back({id.name, id.matchText, useAudioDriver, path, interfaces.Arrival(path)});
}

std::string Listing(const std::vector<const PresentDevice*>& devices) {
  std::string text;
  for (const PresentDevice* device : devices) text += "\n  " + DescribeDevice(*device);
  return text;
}

std::vector<std::string> PathPieces(const std::string& path) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t hash; (hash = path.find('#', start)) != std::string::npos; start = hash + 1)
    pieces.push_back(path.substr(start, hash - start));
  pieces.push_back(path.substr(start));
  return pieces;
}

}  // namespace

std::vector<PresentDevice> FindPresentDevices(DeviceInterfaces& interfaces) {
  std::vector<PresentDevice> present;
  if (const auto audio = interfaces.PresentPaths(protocol::kAudioInterfaceClass)) {
    for (const DeviceModel& model : DeviceModelTable()) {
      const KnownId id{std::string(ModelName(model)), std::string(FieldText(model.MatchText))};
      AddMatches(present, interfaces, *audio, id, 1);
    }
  }
  if (const auto usb = interfaces.PresentPaths(protocol::kUsbDeviceInterfaceClass)) {
    AddMatches(present, interfaces, *usb,
               {"Firmware update device E6A4", protocol::kUpdateMatchE6A4}, 0);
    AddMatches(present, interfaces, *usb,
               {"Firmware update device E7B2", protocol::kUpdateMatchE7B2}, 0);
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
    return "vid_" + LowerAscii(text.substr(0, colon)) + "&pid_" +
           LowerAscii(text.substr(colon + 1));
  return std::string(text);
}

bool DeviceMatches(const PresentDevice& device, std::string_view wanted) {
  const std::string lower = LowerAscii(wanted);
  if (lower.empty()) return false;
  return lower == LowerAscii(device.name) ||
         LowerAscii(device.path).find(LowerAscii(DeviceMatchText(wanted))) != std::string::npos;
}

Selection SelectDevice(const std::vector<PresentDevice>& present,
                       const std::optional<std::string>& wanted) {
  std::vector<const PresentDevice*> fitting;
  for (const PresentDevice& device : present)
    if (!wanted || DeviceMatches(device, *wanted)) fitting.push_back(&device);

  Selection selection;
  if (fitting.size() == 1) {
    selection.device = *fitting.front();
  } else if (fitting.empty()) {
    std::vector<const PresentDevice*> all;
    for (const PresentDevice& device : present) all.push_back(&device);
    selection.message = !wanted ? "No device found."
                                : "No device matches '" + *wanted + "'." +
                                      (all.empty() ? "" : " Present:" + Listing(all));
  } else {
    selection.ambiguous = true;
    selection.message = std::to_string(fitting.size()) + " devices " +
                        (wanted ? "match" : "are present") +
                        "; choose one with --device and its name, VID:PID, or the part of its "
                        "path that tells it apart:";
    for (const PresentDevice* device : fitting)
      selection.message += "\n  " + DescribeDevice(*device) + "\n    --device '" +
                           DistinguishingPart(*device, fitting) + "'";
  }
  return selection;
}

std::string DistinguishingPart(const PresentDevice& device,
                               const std::vector<const PresentDevice*>& devices) {
  const std::vector<std::string> own = PathPieces(device.path);
  std::vector<bool> differs(own.size(), false);
  for (const PresentDevice* other : devices) {
    if (other == &device) continue;
    const std::vector<std::string> theirs = PathPieces(other->path);
    for (std::size_t i = 0; i < own.size(); ++i)
      if (i >= theirs.size() || theirs[i] != own[i]) differs[i] = true;
  }
  std::string part;
  for (std::size_t i = 0; i < own.size(); ++i)
    if (differs[i]) part += (part.empty() ? "" : "#") + own[i];
  return part.empty() ? device.path : part;
}

bool StillPresent(DeviceInterfaces& interfaces, const PresentDevice& device) {
  const auto paths = interfaces.PresentPaths(
      device.useAudioDriver ? protocol::kAudioInterfaceClass : protocol::kUsbDeviceInterfaceClass);
  return paths && std::find(paths->begin(), paths->end(), device.path) != paths->end();
}

std::string DescribeDevice(const PresentDevice& device) {
  return device.name + "  " + device.matchText + "  " +
         (device.useAudioDriver ? "audio driver" : "vendor driver") + "  " + device.path;
}

}  // namespace qv::cli
