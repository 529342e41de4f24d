#include "sim/CaptureReplay.h"

#include <algorithm>
#include <fstream>

#include <nlohmann/json.hpp>

#include "platform/ConversationCapture.h"
#include "platform/DriverRecords.h"
#include "sim/RequestLog.h"
#include "util/Text.h"

namespace qv::sim {
namespace {

// What a request to a device that left gets: the answer the tool knows from an unplug.
constexpr IoResult kLeft{.ok = false, .bytesReturned = 0, .gone = true};

// Bytes of a field written as hex pairs; an absent field is no bytes.
std::vector<std::uint8_t> HexField(const nlohmann::json& line, const char* name) {
  if (!line.contains(name)) return {};
  auto bytes = ParseHexBytes(line.at(name).get<std::string>());
  if (!bytes) throw std::runtime_error(std::string("'") + name + "' is not hex bytes");
  return std::move(*bytes);
}

CapturedRequest RequestOf(const nlohmann::json& line) {
  CapturedRequest request;
  request.number = line.at("n").get<std::uint64_t>();
  request.device = line.at("device").get<int>();
  const auto code = ParseUnsigned(line.at("code").get<std::string>(), 16, UINT32_MAX);
  if (!code) throw std::runtime_error("'code' is not a hex number");
  request.code = static_cast<std::uint32_t>(*code);
  request.input = HexField(line, "in");
  request.sent = HexField(line, "out");
  request.size = line.at("size").get<std::size_t>();
  request.ok = line.at("ok").get<bool>();
  request.gone = line.at("gone").get<bool>();
  request.returned = line.at("returned").get<std::uint32_t>();
  request.answer = HexField(line, "answer");
  request.took = std::chrono::microseconds(line.at("us").get<std::int64_t>());
  // No driver returns more than its buffer holds, and no request takes negative time: the tool
  // would trust either.
  if (request.sent.size() > request.size || request.answer.size() > request.size ||
      request.returned > request.size)
    throw std::runtime_error("more bytes than the request's size");
  if (request.took.count() < 0) throw std::runtime_error("a negative time");
  return request;
}

// A request as the drivers read it, for a message: its setup values and at most 16 bytes of a
// data stage sent.
std::string DescribeRequest(std::uint32_t code, std::span<const std::uint8_t> input,
                            std::span<const std::uint8_t> sent, std::size_t size) {
  std::vector<std::uint8_t> buffer(std::max(size, sent.size()));
  std::copy(sent.begin(), sent.end(), buffer.begin());
  LoggedRequest entry;
  entry.code = code;
  if (const auto request = drivers::DecodeRequest(code, input, buffer, entry.refusal))
    RecordDecoded(entry, *request);
  return DescribeAsked(entry, 16) + " (code " + FormatHex(code, 6) + ", " +
         std::to_string(input.size()) + " bytes in, " + std::to_string(size) + " asked)";
}

// Where two data stages first differ, for a message that cannot show them whole.
std::string FirstDifference(std::span<const std::uint8_t> captured,
                            std::span<const std::uint8_t> sent) {
  const auto [c, s] = std::mismatch(captured.begin(), captured.end(), sent.begin(), sent.end());
  if (c == captured.end() && s == sent.end()) return {};
  const auto at = static_cast<std::size_t>(c - captured.begin());
  return "; the data first differ at byte " + std::to_string(at) + " (capture " +
         (c == captured.end() ? std::string("none") : FormatHex(*c, 2)) + ", sent " +
         (s == sent.end() ? std::string("none") : FormatHex(*s, 2)) + ")";
}

}  // namespace

std::optional<ReplaySetup> ParseReplaySetup(std::string_view setup) {
  constexpr std::string_view kReplay = "replay=";
  if (!setup.starts_with(kReplay)) return std::nullopt;
  setup.remove_prefix(kReplay.size());
  if (setup.empty()) return ReplaySetup{.file = {}, .error = "replay= needs a file"};
  if (setup.find(';') != std::string_view::npos)
    return ReplaySetup{.file = {}, .error = "replay=FILE takes no other key"};
  return ReplaySetup{.file = std::string(setup), .error = {}};
}

CaptureReplay::Loaded CaptureReplay::Load(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {nullptr, "cannot read the capture '" + path.string() + "'"};
  auto replay = std::make_unique<CaptureReplay>();
  if (std::string error = replay->LoadLines(in); !error.empty())
    return {nullptr, "the capture '" + path.string() + "' " + error};
  return {std::move(replay), {}};
}

std::string CaptureReplay::LoadLines(std::istream& in) {
  std::string text;
  // The first line, and no other, says what the file is: a file that starts otherwise is not a
  // capture, however its later lines look.
  if (!std::getline(in, text)) return "is empty";
  const nlohmann::json first = nlohmann::json::parse(text, nullptr, false);
  if (first.is_discarded()) return "is not a capture: its first line is not JSON";
  if (!first.is_object() || first.value("format", nlohmann::json()) != kCaptureFormat)
    return "is not a capture: its first line does not name the format";
  if (first.value("version", nlohmann::json()) != kCaptureVersion)
    return "is of version " + first.value("version", nlohmann::json()).dump() +
           "; this tool reads version " + std::to_string(kCaptureVersion);
  const auto said = [&first](const char* key) {
    const nlohmann::json value = first.value(key, nlohmann::json());
    return value.is_string() ? value.get<std::string>() : std::string("?");
  };
  origin_ = said("platform") + " " + said("port") + " port, tool " + said("tool");

  std::map<int, std::string> pathOf;  // by device number
  std::size_t number = 1;
  while (std::getline(in, text)) {
    ++number;
    if (text.empty()) continue;
    try {
      const nlohmann::json line = nlohmann::json::parse(text);
      const std::string event = line.at("event").get<std::string>();
      if (event == "discover") {
        Listing listing;
        if (!line.at("paths").is_null())
          listing.paths = line.at("paths").get<std::vector<std::string>>();
        if (line.contains("arrivals"))
          listing.arrivals = line.at("arrivals").get<std::map<std::string, std::string>>();
        listings_[line.at("class").get<std::string>()].ahead.push_back(std::move(listing));
      } else if (event == "open") {
        const std::string path = line.at("path").get<std::string>();
        pathOf[line.at("device").get<int>()] = path;
        auto& device = devices_[path];
        if (!device) device = std::make_unique<Device>();
        device->opens.push_back(line.at("ok").get<bool>());
      } else if (event == "request") {
        CapturedRequest request = RequestOf(line);
        const auto path = pathOf.find(request.device);
        if (path == pathOf.end()) throw std::runtime_error("a request to a device never opened");
        devices_.at(path->second)->requests.push_back(std::move(request));
      } else if (event != "close") {
        throw std::runtime_error("unknown event '" + event + "'");
      }
    } catch (const std::exception& error) {
      // A run cut short may leave its last line unfinished: the capture ends before it.
      if (in.eof()) break;
      return "has a bad line " + std::to_string(number) + ": " + error.what();
    }
  }
  return {};
}

std::optional<std::vector<std::string>> CaptureReplay::PresentPaths(const Guid& interfaceClass) {
  std::lock_guard lock(mutex_);
  const auto found = listings_.find(FormatHexBytes(interfaceClass.Bytes(), ""));
  if (found == listings_.end()) return std::vector<std::string>{};
  Listings& listings = found->second;
  if (!listings.ahead.empty()) {
    listings.last = std::move(listings.ahead.front());
    listings.ahead.pop_front();
  }
  auto paths = listings.last.paths;
  if (paths)
    std::erase_if(*paths, [this](const std::string& path) {
      const auto device = devices_.find(path);
      return device != devices_.end() && device->second->left;
    });
  return paths;
}

std::string CaptureReplay::Arrival(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (const auto& [interfaceClass, listings] : listings_)
    if (const auto arrival = listings.last.arrivals.find(path);
        arrival != listings.last.arrivals.end())
      return arrival->second;
  return {};
}

NativeHandle CaptureReplay::Open(const char* path) {
  std::lock_guard lock(mutex_);
  const auto device = devices_.find(path);
  if (device == devices_.end() || device->second->left || device->second->opens.empty())
    return kInvalidHandle;
  const bool ok = device->second->opens.front();
  device->second->opens.pop_front();
  if (!ok) return kInvalidHandle;
  const NativeHandle handle = nextHandle_++;
  opened_[handle] = path;
  return handle;
}

void CaptureReplay::Close(NativeHandle handle) {
  std::lock_guard lock(mutex_);
  opened_.erase(handle);
}

IoResult CaptureReplay::Refuse(std::string mismatch) {
  if (mismatch_.empty()) mismatch_ = std::move(mismatch);
  return kLeft;
}

IoResult CaptureReplay::Control(NativeHandle handle, std::uint32_t code,
                                std::span<const std::uint8_t> input,
                                std::span<std::uint8_t> output) {
  std::unique_lock lock(mutex_);
  // After a request that differed nothing is answered: the run is to end there.
  if (!mismatch_.empty()) return kLeft;
  const auto path = opened_.find(handle);
  if (path == opened_.end()) return {};
  Device& device = *devices_.at(path->second);
  // The capture ends here for this device: as far as the tool can tell, it left.
  if (device.requests.empty()) {
    device.left = true;
    return kLeft;
  }
  CapturedRequest captured = std::move(device.requests.front());
  device.requests.pop_front();

  const std::span<const std::uint8_t> sent = drivers::SentDataStage(code, input, output);
  if (code != captured.code || !std::ranges::equal(input, captured.input) ||
      output.size() != captured.size || !std::ranges::equal(sent, captured.sent)) {
    return Refuse("request " + std::to_string(captured.number) + " of the capture (device " +
                  std::to_string(captured.device) +
                  ") is not what the tool sent: the capture holds " +
                  DescribeRequest(captured.code, captured.input, captured.sent, captured.size) +
                  ", the tool sent " + DescribeRequest(code, input, sent, output.size()) +
                  FirstDifference(captured.sent, sent));
  }
  lock.unlock();
  std::copy(captured.answer.begin(), captured.answer.end(), output.begin());
  device.clock.Advance(captured.took);
  return {.ok = captured.ok, .bytesReturned = captured.returned, .gone = captured.gone};
}

std::string CaptureReplay::Mismatch() const {
  std::lock_guard lock(mutex_);
  return mismatch_;
}

Clock& CaptureReplay::ClockOf(const std::string& path) {
  const auto device = devices_.find(path);
  return device == devices_.end() ? static_cast<Clock&>(busClock_) : device->second->clock;
}

void CaptureReplay::PassIdle(std::chrono::microseconds pause,
                             const std::vector<std::string>& inUse) {
  idle_.Advance(pause);
  for (auto& [path, device] : devices_)
    if (std::ranges::find(inUse, path) == inUse.end()) device->clock.Advance(pause);
}

bool CaptureReplay::ListingsAhead() const {
  std::lock_guard lock(mutex_);
  return std::ranges::any_of(listings_,
                             [](const auto& entry) { return !entry.second.ahead.empty(); });
}

void CaptureReplay::Bus::Sleep(std::uint32_t milliseconds) {
  replay_.PassIdle(std::chrono::milliseconds(milliseconds), {});
}

std::chrono::microseconds CaptureReplay::Bus::Now() const {
  std::chrono::microseconds now = replay_.idle_.Now();
  for (const auto& [path, device] : replay_.devices_) now = std::max(now, device->clock.Now());
  return now;
}

}  // namespace qv::sim
