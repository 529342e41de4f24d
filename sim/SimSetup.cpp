#include "sim/SimSetup.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <span>

#include "sim/PeripheralKeys.h"
#include "util/Text.h"

namespace qv::sim {
namespace {

using KeyHandler = std::function<std::string(SimSetup&, std::string_view)>;

// The items of a comma-separated list, one per device in plug order, each handed to `parse`; the
// first error ends it.
std::string ForEachItem(std::string_view value,
                        const std::function<std::string(std::string_view)>& parse) {
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = value.find(',', start);
    if (std::string error = parse(value.substr(start, comma - start)); !error.empty()) return error;
    if (comma == std::string_view::npos) return {};
    start = comma + 1;
  }
}

std::string ParseModels(SimSetup& setup, std::string_view value) {
  setup.devices.clear();
  if (value == "none") return {};
  // Several devices at once: a comma-separated list, plugged in this order.
  return ForEachItem(value, [&](std::string_view name) -> std::string {
    const auto identity = IdentityByName(name);
    if (!identity)
      return "unknown model '" + std::string(name) + "' (known: " + KnownIdentityNames() +
             ", none)";
    setup.devices.push_back(*identity);
    return {};
  });
}

std::string ParseCount(std::optional<std::uint64_t>& field, std::string_view key,
                       std::string_view value) {
  const auto n = ParseUnsigned(value, 10);
  if (!n || *n == 0) return std::string(key) + " needs a whole number of 1 or more";
  field = *n;
  return {};
}

std::string ParseFlag(bool& field, std::string_view key, std::string_view value) {
  if (value != "0" && value != "1") return std::string(key) + " needs 0 or 1";
  field = value == "1";
  return {};
}

// One path per device, comma separated, in the order the devices are plugged in.
std::string ParseFlashFiles(SimSetup& setup, std::string_view value) {
  setup.flashFiles.clear();
  return ForEachItem(value, [&](std::string_view path) -> std::string {
    if (path.empty()) return "flash-file needs a path for each device, separated by commas";
    const std::filesystem::path file{std::string(path)};
    // Found out now, before anything is sent: otherwise an update "succeeds" and nothing is
    // saved.
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
      return "flash-file '" + file.string() + "': the folder '" + folder.string() +
             "' does not exist";
    setup.flashFiles.push_back(file);
    return {};
  });
}

// "500-9000+12000": in at 500 ms, out at 9000 ms, in again at 12000 ms for good. Intervals in
// order and apart, each a number of milliseconds on the device's own clock.
std::string ParsePlugSchedule(std::string_view text, PlugSchedule& schedule) {
  const std::string usage =
      "schedule needs, for each device, intervals IN-OUT or IN (milliseconds on the device's "
      "clock) joined by +, in order, such as 500-9000+12000; not '" +
      std::string(text) + "'";
  std::chrono::milliseconds earliest{0};
  std::size_t start = 0;
  while (true) {
    const std::size_t plus = text.find('+', start);
    const std::string_view part = text.substr(start, plus - start);
    const std::size_t dash = part.find('-');
    const auto in = ParseUnsigned(part.substr(0, dash), 10, 100'000'000);
    std::optional<std::uint64_t> out;
    if (dash != std::string_view::npos && dash + 1 < part.size())
      out = ParseUnsigned(part.substr(dash + 1), 10, 100'000'000);
    const bool open = dash == std::string_view::npos || dash + 1 == part.size();
    if (!in || (!open && (!out || *out <= *in)) || std::chrono::milliseconds(*in) < earliest)
      return usage;
    PlugInterval interval{std::chrono::milliseconds(*in), std::nullopt};
    if (out) interval.out = std::chrono::milliseconds(*out);
    schedule.push_back(interval);
    const bool last = plus == std::string_view::npos;
    if (open && !last) return usage;  // nothing can follow an interval without an end
    if (last) return {};
    earliest = *interval.out + std::chrono::milliseconds(1);
    start = plus + 1;
  }
}

// One schedule per device in plug order, separated by commas; an empty one keeps its device
// plugged in throughout.
std::string ParseSchedules(SimSetup& setup, std::string_view value) {
  setup.schedules.clear();
  return ForEachItem(value, [&](std::string_view one) -> std::string {
    PlugSchedule schedule;
    if (!one.empty()) {
      if (std::string error = ParsePlugSchedule(one, schedule); !error.empty()) return error;
    }
    setup.schedules.push_back(std::move(schedule));
    return {};
  });
}

std::string ParsePorts(SimSetup& setup, std::string_view value) {
  setup.ports.clear();
  return ForEachItem(value, [&](std::string_view item) -> std::string {
    const auto port = ParseUnsigned(item, 10, 1000);
    if (!port || *port == 0) return "port needs, for each device, a port number from 1 to 1000";
    setup.ports.push_back(static_cast<std::size_t>(*port));
    return {};
  });
}

struct Key {
  std::string_view name;
  KeyHandler parse;
};

std::span<const Key> Keys() {
  static const Key keys[] = {
      {"model", ParseModels},
      {"fail-after",
       [](SimSetup& s, std::string_view v) { return ParseCount(s.failAfter, "fail-after", v); }},
      {"fail-request",
       [](SimSetup& s, std::string_view v) {
         return ParseCount(s.failRequest, "fail-request", v);
       }},
      {"short-request",
       [](SimSetup& s, std::string_view v) {
         return ParseCount(s.shortRequest, "short-request", v);
       }},
      {"latency-us",
       [](SimSetup& s, std::string_view v) -> std::string {
         const auto us = ParseUnsigned(v, 10, 10'000'000);
         if (!us) return "latency-us needs microseconds from 0 to 10000000";
         s.latency = std::chrono::microseconds(*us);
         return {};
       }},
      {"flash",
       [](SimSetup& s, std::string_view v) -> std::string {
         if (v == "none") {
           s.flash = AbsentFlashChip();
           return {};
         }
         const auto id = ParseUnsigned(v, 16, 0xFFFFFF);
         const FlashChipModel* model = id && v.size() == 6 && *id != 0xFFFFFF
                                           ? FindFlashChip({static_cast<std::uint8_t>(*id >> 16),
                                                            static_cast<std::uint8_t>(*id >> 8),
                                                            static_cast<std::uint8_t>(*id)})
                                           : nullptr;
         if (!model) {
           std::string known;
           for (const auto& m : FlashChipModels())
             if (!m.absent) known += (known.empty() ? "" : ", ") + FormatHexBytes(m.jedecId);
           return "flash needs the six hex digits of a known JEDEC id (" + known + "), or none";
         }
         s.flash = model;
         return {};
       }},
      {"flash-file", ParseFlashFiles},
      {"schedule", ParseSchedules},
      {"port", ParsePorts},
      {"stuck-busy",
       [](SimSetup& s, std::string_view v) { return ParseFlag(s.stuckBusy, "stuck-busy", v); }},
      {"wp", [](SimSetup& s, std::string_view v) { return ParseFlag(s.writeProtectPin, "wp", v); }},
      {"real-time",
       [](SimSetup& s, std::string_view v) { return ParseFlag(s.realTime, "real-time", v); }},
      {"flip-reads",
       [](SimSetup& s, std::string_view v) -> std::string {
         std::optional<std::uint64_t> n;
         if (auto error = ParseCount(n, "flip-reads", v); !error.empty()) return error;
         s.flipReads = static_cast<std::uint32_t>(std::min<std::uint64_t>(*n, UINT32_MAX));
         return {};
       }},
      {"ready-after",
       [](SimSetup& s, std::string_view v) -> std::string {
         if (v == "never") {
           s.readyAfter = std::nullopt;
           return {};
         }
         const auto n = ParseUnsigned(v, 10, 1'000'000);
         if (!n) return "ready-after needs a number of polls from 0 to 1000000, or never";
         s.readyAfter = static_cast<std::uint32_t>(*n);
         return {};
       }},
      // The firmware mailbox and the I2C bus; a string cannot hold ';', which ends the value.
      {"vid", ParseVidKey},
      {"pid", ParsePidKey},
      {"string1", ParseString1Key},
      {"string2", ParseString2Key},
      {"string3", ParseString3Key},
      {"settings", ParseSettingsKey},
      {"eeprom", ParseEepromKey},
      {"status", ParseStatusKey},
      {"version", ParseVersionKey},
      {"mailbox", ParseMailboxKey},
      {"i2c-slaves", ParseI2cSlavesKey},
      {"i2c-busy-polls", ParseI2cBusyPollsKey},
      {"i2c-stuck", ParseI2cStuckKey},
  };
  return keys;
}

// What a device fresh from the field holds: an older firmware image in the first 48 KiB.
void WriteOlderFirmware(SpiFlash& flash) {
  constexpr std::size_t kOlderFirmwareSize = 48 * 1024;
  auto contents = flash.MutableContents();
  for (std::size_t i = 0; i < kOlderFirmwareSize && i < contents.size(); ++i)
    contents[i] = static_cast<std::uint8_t>((i * 7 + 0x31 + (i >> 8)) & 0xFF);
}

}  // namespace

SimSetupResult ParseSimSetup(std::string_view text) {
  SimSetup setup;
  setup.devices.push_back(*IdentityByName("Brevanto_RX1"));
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(';', start), text.size());
    const std::string_view pair = text.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos)
      return {std::nullopt, "setup item '" + std::string(pair) + "' is not key=value"};
    const std::string_view key = pair.substr(0, eq);
    const auto& keys = Keys();
    const auto it =
        std::find_if(keys.begin(), keys.end(), [&](const Key& k) { return k.name == key; });
    if (it == keys.end()) return {std::nullopt, "unknown setup key '" + std::string(key) + "'"};
    if (std::string error = it->parse(setup, pair.substr(eq + 1)); !error.empty())
      return {std::nullopt, error};
  }
  if (setup.schedules.size() > setup.devices.size())
    return {std::nullopt, "schedule gives " + std::to_string(setup.schedules.size()) +
                              " schedules for " + std::to_string(setup.devices.size()) +
                              " devices"};
  if (setup.ports.size() > setup.devices.size())
    return {std::nullopt, "port gives " + std::to_string(setup.ports.size()) + " ports for " +
                              std::to_string(setup.devices.size()) + " devices"};
  if (setup.flashFiles.size() > std::max<std::size_t>(setup.devices.size(), 1))
    return {std::nullopt, "flash-file names " + std::to_string(setup.flashFiles.size()) +
                              " files for " + std::to_string(setup.devices.size()) + " devices"};
  // Each flash file must fit the flash it stands for.
  for (const auto& file : setup.flashFiles) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (!error && size > setup.flash->size)
      return {std::nullopt, "flash-file '" + file.string() + "' holds " + std::to_string(size) +
                                " bytes, more than the flash's " +
                                std::to_string(setup.flash->size)};
  }
  return {setup, {}};
}

Simulation::Simulation(const SimSetup& setup) {
  bus_.SetLatency(setup.latency);
  bus_.SetRealTime(setup.realTime);
  for (std::size_t i = 0; i < setup.devices.size(); ++i) {
    const Identity& identity = setup.devices[i];
    SimDevice& device =
        bus_.Plug(identity, i < setup.ports.size() ? std::optional<std::size_t>(setup.ports[i])
                                                   : std::nullopt);
    if (setup.failAfter) device.GoneAfterRequests(*setup.failAfter);
    if (setup.failRequest) device.FailRequestNumber(*setup.failRequest);
    if (setup.shortRequest) device.ShortAnswerNumber(*setup.shortRequest);
    IspBridge& isp = device.Chip().Isp();
    isp.FitFlash(*setup.flash);
    WriteOlderFirmware(isp.Flash());
    isp.Flash().SetStuckBusy(setup.stuckBusy);
    isp.Flash().SetWriteProtectPin(setup.writeProtectPin);
    isp.SetFlipReads(setup.flipReads);
    isp.SetReadyAfter(setup.readyAfter);
    MailboxSetup mailbox = setup.mailbox;
    if (!mailbox.serialGiven) mailbox.strings[2] = device.SerialNumber();
    device.Chip().ConfigureMailbox(mailbox, identity);
    // Plugged in as its model, reporting the strings its firmware keeps; ids stored since take
    // effect when it is plugged in again.
    device.Enumerate(false);
    device.Chip().I2c().Configure(setup.i2c);
    if (i < setup.flashFiles.size() && attachError_.empty())
      attachError_ = isp.AttachFile(setup.flashFiles[i]);
    if (i < setup.schedules.size()) device.SetSchedule(setup.schedules[i]);
  }
  bus_.FollowSchedules();
}

std::string Simulation::ClaimKey(std::string_view path) {
  const SimDevice* device = bus_.DeviceAt(path);
  if (!device) return {};
  return FlashFileClaimKey(device->Chip().Isp().AttachedFile());
}

std::string FlashFileClaimKey(const std::filesystem::path& file) {
  if (file.empty()) return {};
  std::error_code error;
  const auto resolved = std::filesystem::weakly_canonical(std::filesystem::absolute(file), error);
  return "simulated flash " + (error ? file : resolved).string();
}

std::string Simulation::FileError() const {
  if (!attachError_.empty()) return attachError_;
  for (std::size_t i = 0; i < bus_.DeviceCount(); ++i)
    if (const std::string& error = bus_.Device(i).Chip().Isp().SaveError(); !error.empty())
      return error;
  return {};
}

}  // namespace qv::sim
