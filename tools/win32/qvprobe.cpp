// Looks for the device through the real Windows drivers, in each driver mode and for each id the
// tool knows, and prints what it found. Exits 0 whether or not a device is present, so it doubles
// as a smoke test of discovery on a machine (or a Wine prefix) without hardware.

#include <cstdint>
#include <cstdio>

#include "platform/win32/Win32DeviceInterfaces.h"
#include "platform/win32/Win32DeviceIo.h"
#include "transport/Protocol.h"
#include "transport/QuorvexUsb.h"

namespace {

struct Target {
  std::uint8_t useAudioDriver;
  const char* matchId;
};

constexpr Target kTargets[] = {
    {0, qv::protocol::kUpdateMatchE6A4},
    {0, qv::protocol::kUpdateMatchE7B2},
    {1, "vid_e5d3&pid_7a01"},
    {1, "vid_e5d3&pid_7a02"},
    {1, "vid_e5d3&pid_7a03"},
    {1, "vid_e5d3&pid_7a04"},
    {1, "vid_e5d3&pid_7a05"},
    {1, "vid_e5d3&pid_7a06"},
    {1, "vid_e5d3&pid_7a07"},
    {1, "vid_e5d3&pid_7a08"},
    {1, "vid_e5d3&pid_7a09"},
    {1, "vid_e5d3&pid_7a0a"},
    {1, "vid_e5d3&pid_7a0b"},
    {1, "vid_e5d3&pid_7a0c"},
    {1, "vid_e5d3&pid_7a0d"},
    {1, "vid_e5d3&pid_7a0e"},
    {1, "vid_e5d3&pid_7a0f"},
    {1, "vid_e5d3&pid_7a10"},
};

const char* ModeName(std::uint8_t useAudioDriver) {
  return useAudioDriver ? "audio driver" : "vendor driver";
}

}  // namespace

int main() {
  qv::Win32DeviceIo io;
  qv::Win32DeviceInterfaces interfaces;
  qv::QuorvexUsb usb(io, interfaces);

  int found = 0;
  for (const Target& target : kTargets) {
    usb.SetUseAudioDriver(target.useAudioDriver);
    usb.SetMatchId(target.matchId);
    // DeviceFound is only ever set by a search, so each search starts from "not found".
    usb.ClearDeviceFound();
    const bool probed = usb.FindDevice();
    if (!usb.GetDeviceFound()) continue;
    ++found;
    std::printf("%s  mode %u (%s)  %s  probe %s\n", target.matchId,
                static_cast<unsigned>(target.useAudioDriver), ModeName(target.useAudioDriver),
                usb.GetDevicePath(), probed ? "ok" : "failed");
  }
  if (found == 0) std::printf("No device found.\n");
  return 0;
}
