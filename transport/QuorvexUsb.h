#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <utility>

#include "platform/DeviceHandle.h"
#include "platform/DeviceInterfaces.h"
#include "platform/DeviceIo.h"
#include "transport/RequestRecords.h"

namespace qv {

// The one connection to the device: which driver path to use, which device to look for, where
// it was found, and the open handle while an action runs.
class QuorvexUsb {
 public:
  static constexpr std::size_t kDevicePathSize = 512;  // including the terminator
  static constexpr std::size_t kMatchIdSize = 50;      // including the terminator

  QuorvexUsb(DeviceIo& io, DeviceInterfaces& interfaces);
  QuorvexUsb(const QuorvexUsb&) = delete;
  QuorvexUsb& operator=(const QuorvexUsb&) = delete;
  virtual ~QuorvexUsb();

  // Looks for a present interface whose path contains MatchId; the last match is stored, marked
  // found and probed. Returns the probe result of the last match, false when none matched.
  virtual bool FindDevice();
  // Refreshes DeviceFound from a fresh enumeration without opening anything.
  virtual bool IsDevicePresent();
  virtual bool GetDeviceFound() const { return DeviceFound != 0; }

  void SetUseAudioDriver(std::uint8_t flag) { UseAudioDriver = flag; }
  std::uint8_t GetUseAudioDriver() const { return UseAudioDriver; }
  // Refuses (returns false, MatchId unchanged) a text that does not fit the field.
  bool SetMatchId(std::string_view text);
  void ClearDeviceFound() { DeviceFound = 0; }
  // Chooses one interface path directly, for a caller that enumerated several devices of one
  // id and must not let the last one win. Refuses a path that does not fit the field.
  bool SetDevicePath(std::string_view path);

  // Asked with the device's path before every Open: false refuses the open, the connection stays
  // closed and nothing reaches the device. The window's claim on the device it works with
  // (another program may hold it); unset, every open goes ahead. Discovery's probe opens a
  // handle of its own and is not asked.
  using OpenGate = std::function<bool(std::string_view path)>;
  void SetOpenGate(OpenGate gate) { gate_ = std::move(gate); }

  bool Open();
  void Close();
  bool IsOpen() const { return DeviceHandle.Valid(); }
  // No request can reach the device until the next successful Open: the connection is closed,
  // or a request found the device gone. A wait on the device ends then instead of polling out.
  bool Unreachable() const { return !DeviceHandle.Valid() || gone_; }

  // One control transfer. Device-to-host requests fill the buffer; host-to-device requests send
  // it. True when the driver completed the call, and for a device-to-host request returned as
  // many bytes as the buffer holds: a short answer fails.
  bool ControlRequest(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                      std::uint16_t index, std::span<std::uint8_t> buffer);

  // Opens DevicePath on a handle of its own, sends the probe of the current mode and closes.
  bool ProbeDevice();

  const char* GetDevicePath() const { return DevicePath.data(); }
  const char* GetMatchId() const { return MatchId.data(); }

 private:
  const Guid& InterfaceClass() const;
  // True when the path contains MatchId and fits the DevicePath field.
  bool PathMatches(std::string_view path) const;

  DeviceIo& io_;
  DeviceInterfaces& interfaces_;

  std::uint8_t DeviceFound = 0;
  std::uint8_t UseAudioDriver = 0;
  std::array<char, kDevicePathSize> DevicePath{};
  std::array<char, kMatchIdSize> MatchId{};
  qv::DeviceHandle DeviceHandle;
  bool gone_ = false;
  OpenGate gate_;
};

}  // namespace qv
