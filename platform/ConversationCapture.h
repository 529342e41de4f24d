#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/DeviceInterfaces.h"
#include "platform/DeviceIo.h"
#include "util/StreamedFile.h"

namespace qv {

// The conversation file's first line names its kind and version; a reader refuses any other.
inline constexpr std::string_view kCaptureFormat = "qv-capture";
inline constexpr int kCaptureVersion = 1;

// What the first line says about where the conversation was held.
struct CaptureOrigin {
  std::string toolVersion;
  std::string port;  // "libusb", "setupapi", "simulated", "replay"
};

// The platform this build runs on, as a capture names it.
std::string_view CapturePlatform();

// Streams a run's conversation with its devices to a file as it happens, one JSON line per
// event (docs/captures.md): each discovery, each open and close, each I/O control request with
// what was asked and what came back, and how long it took on the device's clock. Every line is
// handed to the system when it is made, so a run cut short leaves all it did; nothing is held.
// Devices are numbered in the order they are first opened, so lines of devices worked side by
// side on their own threads tell them apart.
class ConversationCapture final : public DeviceIo, public DeviceInterfaces {
 public:
  using ClockFor = std::function<Clock&(std::string_view path)>;

  ConversationCapture(DeviceIo& io, DeviceInterfaces& interfaces, ClockFor clockFor,
                      StreamedFile& file, const CaptureOrigin& origin);

  NativeHandle Open(const char* path) override;
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override;
  void Close(NativeHandle handle) override;

  std::optional<std::vector<std::string>> PresentPaths(const Guid& interfaceClass) override;
  std::string Arrival(const std::string& path) override { return interfaces_.Arrival(path); }

 private:
  struct Opened {
    std::string path;
    int device = 0;
  };
  void WriteLine(const std::string& line);    // with mutex_ held
  int DeviceNumber(const std::string& path);  // with mutex_ held

  DeviceIo& io_;
  DeviceInterfaces& interfaces_;
  ClockFor clockFor_;
  StreamedFile& file_;
  std::mutex mutex_;
  std::map<std::string, int> devices_;     // by path, from 1
  std::map<NativeHandle, Opened> opened_;  // each open handle's device
  std::uint64_t requests_ = 0;
};

}  // namespace qv
