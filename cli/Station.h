#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "cli/DevicePorts.h"
#include "cli/QvTool.h"
#include "cli/Report.h"
#include "cli/RequestTrace.h"
#include "flash/FlashProgress.h"
#include "image/FlashImage.h"

namespace qv::cli {

// `update --watch`: the bench of a service centre or a production line. It waits for devices of
// the model the firmware file is named for (as `update --all` picks them) and updates each, on a
// thread of its own, as soon as it is plugged in, while the others go on; one device's failure
// never stops the others. A device is updated once per plugging in (its path and what tells that
// plugging in from another there): one that stays plugged in after its update is not updated
// again, and devices already plugged in when the station starts are left alone. Every device left
// alone is named once, with why. Every finished device is a line of the record (and of standard
// output with
// --json). Ctrl-C stops the devices under way as it stops an update, then the station ends.
struct StationRequest {
  DevicePorts& ports;
  DeviceIo& io;                       // the ports' own, or the request trace over it
  RequestTrace* trace = nullptr;      // when io is the trace: its lines get the ports' labels
  std::optional<std::string> wanted;  // --device
  const FlashImage& image;
  std::string file;
  std::string fileSha256;              // of the file's bytes as read
  std::string recordPath;              // empty: no record (unless recordToOut)
  bool recordToOut = false;            // `--record -`: the lines on standard output
  std::optional<std::uint64_t> count;  // end after this many devices
  bool yes = false;
  bool force = false;
  const std::atomic<int>* interrupts = nullptr;
};

// Exit 0 when every device that came was updated, 1 when any failed or the record stopped taking
// lines (the station then starts no more devices; those under way finish), 130 when stopped by
// Ctrl-C, 2 for a file named for no model, a --device of another model, or a record that cannot
// be opened (nothing sent).
CommandResult RunStation(const StationRequest& request, const ToolStreams& streams, Report& report);

// One line of the record: when the device finished (UTC), its port and path, the unit's serial
// number and bus address where known, model, the file (its name, full path and SHA-256) and the
// image's checksum, the result with the failure's text, address and step, how long it took, and
// the tool's version.
struct StationRecordLine {
  std::string time;
  std::string port;
  std::string path;
  UnitIdentity unit;
  std::string arrival;  // what tells this plugging-in from another on the port, where known
  std::string model;
  std::string file;
  std::string filePath;
  std::string sha256;
  std::uint16_t checksum = 0;
  int exit = 0;
  std::string message;
  std::optional<FlashEvent> failure;
  double seconds = 0;
};
std::string RecordText(const StationRecordLine& line);

// The port of a device: the piece of its interface path after its ids (its instance on Windows
// and in the simulator, its place on the bus through libusb).
std::string PortOfPath(const std::string& path);

}  // namespace qv::cli
