#include "platform/ConversationCapture.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "platform/DriverRecords.h"
#include "util/Text.h"

namespace qv {
namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
  return FormatHexBytes(bytes, "");
}

}  // namespace

std::string_view CapturePlatform() {
#ifdef _WIN32
  return "windows";
#else
  return "linux";
#endif
}

ConversationCapture::ConversationCapture(DeviceIo& io, DeviceInterfaces& interfaces,
                                         ClockFor clockFor, StreamedFile& file,
                                         const CaptureOrigin& origin)
    : io_(io), interfaces_(interfaces), clockFor_(std::move(clockFor)), file_(file) {
  const nlohmann::ordered_json first = {{"format", kCaptureFormat},
                                        {"version", kCaptureVersion},
                                        {"tool", origin.toolVersion},
                                        {"platform", CapturePlatform()},
                                        {"port", origin.port}};
  std::lock_guard lock(mutex_);
  WriteLine(first.dump());
}

void ConversationCapture::WriteLine(const std::string& line) {
  file_.Write(line + '\n');
}

int ConversationCapture::DeviceNumber(const std::string& path) {
  const auto [where, added] = devices_.try_emplace(path, static_cast<int>(devices_.size()) + 1);
  return where->second;
}

std::optional<std::vector<std::string>> ConversationCapture::PresentPaths(
    const Guid& interfaceClass) {
  auto paths = interfaces_.PresentPaths(interfaceClass);
  nlohmann::ordered_json line = {{"event", "discover"}, {"class", Hex(interfaceClass.Bytes())}};
  line["paths"] = paths ? nlohmann::ordered_json(*paths) : nlohmann::ordered_json(nullptr);
  if (paths) {
    nlohmann::ordered_json arrivals = nlohmann::ordered_json::object();
    for (const std::string& path : *paths)
      if (std::string arrival = interfaces_.Arrival(path); !arrival.empty())
        arrivals[path] = std::move(arrival);
    if (!arrivals.empty()) line["arrivals"] = std::move(arrivals);
  }
  std::lock_guard lock(mutex_);
  WriteLine(line.dump());
  return paths;
}

NativeHandle ConversationCapture::Open(const char* path) {
  const NativeHandle handle = io_.Open(path);
  const bool ok = handle != kInvalidHandle && handle != kNoHandle;
  std::lock_guard lock(mutex_);
  const int device = DeviceNumber(path);
  if (ok) opened_[handle] = {path, device};
  WriteLine(
      nlohmann::ordered_json{{"event", "open"}, {"device", device}, {"path", path}, {"ok", ok}}
          .dump());
  return handle;
}

void ConversationCapture::Close(NativeHandle handle) {
  io_.Close(handle);
  std::lock_guard lock(mutex_);
  const auto opened = opened_.find(handle);
  if (opened == opened_.end()) return;
  WriteLine(nlohmann::ordered_json{
      {"event", "close"}, {"device", opened->second.device}, {"path", opened->second.path}}
                .dump());
  opened_.erase(opened);
}

IoResult ConversationCapture::Control(NativeHandle handle, std::uint32_t code,
                                      std::span<const std::uint8_t> input,
                                      std::span<std::uint8_t> output) {
  Opened device;
  {
    std::lock_guard lock(mutex_);
    if (const auto opened = opened_.find(handle); opened != opened_.end()) device = opened->second;
  }
  nlohmann::ordered_json line = {{"event", "request"},
                                 {"n", 0},
                                 {"device", device.device},
                                 {"code", FormatHex(code, 6)},
                                 {"in", Hex(input)}};
  // Taken before the call: the answer may be written over the data stage.
  if (const auto sent = drivers::SentDataStage(code, input, output); !sent.empty())
    line["out"] = Hex(sent);
  line["size"] = output.size();
  Clock& clock = clockFor_(device.path);
  const auto started = clock.Now();
  const IoResult result = io_.Control(handle, code, input, output);
  const auto took = clock.Now() - started;
  line["ok"] = result.ok;
  line["gone"] = result.gone;
  line["returned"] = result.bytesReturned;
  // What the driver says it returned is the answer; for a request that sent its data stage the
  // buffer holds what was sent, already in the line.
  if (!line.contains("out")) {
    const std::size_t n = std::min<std::size_t>(result.bytesReturned, output.size());
    if (n > 0) line["answer"] = Hex(output.first(n));
  }
  line["us"] = took.count();
  std::lock_guard lock(mutex_);
  line["n"] = ++requests_;
  WriteLine(line.dump());
  return result;
}

}  // namespace qv
