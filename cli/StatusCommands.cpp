// status and key: the playback status the Information page shows, and the media keys it presses.

#include "chip/MediaKeys.h"
#include "chip/PlaybackStatus.h"
#include "cli/CommandTable.h"
#include "cli/RegisterAccess.h"

namespace qv::cli {
namespace {

CommandResult Status(NoParameters&, CommandRun& run) {
  QuorvexUsb& usb = run.core->UsbDevice;
  const OpenConnection connection(usb);
  PlaybackStatus status;
  if (!ReadPlaybackStatus(usb, status))
    return {kExitFailed, "the status registers could not be read"};
  const std::string rate(PlaybackRateText(status.RateIndex()));
  const std::string trimmed = rate.substr(std::min(rate.find_first_not_of(' '), rate.size()));
  std::ostream& out = run.report.Out();
  nlohmann::json& document = run.report.Document();
  out << "connection: " << (status.Connected() ? "USB connected" : "USB Disconnected") << '\n';
  document["connected"] = status.Connected();
  if (status.Connected()) {
    out << "mute: " << (status.Muted() ? "Mute" : "Playing") << '\n';
    document["muted"] = status.Muted();
    if (!status.Muted()) {
      out << "format: " << (status.DsdInput() ? "DSD" : "PCM") << '\n';
      out << "rate: " << (trimmed.empty() ? "unknown" : trimmed) << '\n';
      document["format"] = status.DsdInput() ? "DSD" : "PCM";
      document["rate"] = trimmed.empty() ? nlohmann::json(nullptr) : nlohmann::json(trimmed);
    }
  }
  document["registers"] = status.registers;
  return {};
}

struct KeyParameters {
  std::string name;
  const MediaKey* key = nullptr;
};

std::optional<std::string> CheckKey(KeyParameters& p) {
  for (const MediaKey& key : MediaKeys())
    if (key.name == p.name) p.key = &key;
  if (!p.key) return "key needs one of prev, vol-, play, vol+, next, not '" + p.name + "'";
  return std::nullopt;
}

CommandResult Press(KeyParameters& p, CommandRun& run) {
  QuorvexUsb& usb = run.core->UsbDevice;
  const OpenConnection connection(usb);
  const bool completed = SendMediaKey(usb, run.core->clock, p.key->code);
  run.report.Document()["key"] = std::string(p.key->name);
  run.report.Document()["completed"] = completed;
  if (!completed)
    return {kExitFailed, "the firmware did not complete the " + std::string(p.key->caption) +
                             " key within 100 ms"};
  run.report.Out() << p.key->caption << ": completed\n";
  return {};
}

}  // namespace

const CommandFamily& StatusCommands() {
  static const Command kCommands[] = {
      CommandRow<NoParameters>{
          .words = "status",
          .help = "The playback status: connection, mute, format and rate",
          .run = Status,
      },
      CommandRow<KeyParameters>{
          .words = "key",
          .help = "Press a media key on the device and wait for it",
          .declare =
              [](CLI::App& command, KeyParameters& p) {
                Positional(command, "KEY", p.name, "prev, vol-, play, vol+ or next");
              },
          .check = CheckKey,
          .run = Press,
      },
  };
  static const CommandFamily kFamily{.groups = {}, .commands = kCommands};
  return kFamily;
}

}  // namespace qv::cli
