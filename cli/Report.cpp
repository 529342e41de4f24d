#include "cli/Report.h"

#include <iomanip>
#include <regex>
#include <sstream>

namespace qv::cli {
namespace {

const std::regex& AddressPattern() {
  static const std::regex kAddress("at 0x([0-9A-F]+)");
  return kAddress;
}

}  // namespace

bool IsFailureText(std::string_view text) {
  return text.find("Fail") != std::string_view::npos || text.starts_with("Stopped") ||
         text.starts_with("Range Error");
}

const char* ResultWord(int exit) {
  return exit == kExitSuccess ? "success" : exit == kExitInterrupted ? "stopped" : "failed";
}

double SecondsValue(std::chrono::microseconds time) {
  return static_cast<double>(time.count()) / 1e6;
}

std::optional<std::uint32_t> AddressOf(const std::string& text) {
  std::smatch match;
  if (!std::regex_search(text, match, AddressPattern())) return std::nullopt;
  return static_cast<std::uint32_t>(std::stoul(match[1].str(), nullptr, 16));
}

const Step* TellingFailure(const std::vector<Step>& steps) {
  // The failure that says the most: the last one naming an address, else the last one at all
  // (the retry and final texts only sum up the ones before them).
  const Step* failure = nullptr;
  const Step* withAddress = nullptr;
  for (const Step& step : steps) {
    if (!IsFailureText(step.text)) continue;
    failure = &step;
    if (std::regex_search(step.text, AddressPattern())) withAddress = &step;
  }
  return withAddress ? withAddress : failure;
}

void AddSteps(nlohmann::json& into, const std::vector<Step>& steps, std::chrono::microseconds end) {
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const auto until = i + 1 < steps.size() ? steps[i + 1].at : end;
    list.push_back({{"text", steps[i].text}, {"seconds", SecondsValue(until - steps[i].at)}});
  }
  into["steps"] = list;
  const Step* failure = TellingFailure(steps);
  if (!failure) return;
  nlohmann::json failed = {{"text", failure->text}};
  if (const auto address = AddressOf(failure->text)) failed["address"] = *address;
  into["failure"] = failed;
}

std::string Seconds(std::chrono::microseconds time) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << SecondsValue(time) << " s";
  return text.str();
}

int Report::End(int code, const std::string& message, bool warning) {
  if (json_) {
    document_["exit"] = code;
    if (!message.empty()) document_[warning ? "warning" : "error"] = message;
    // File names, device paths and typed texts need not be valid UTF-8; a document must be.
    streams_.out << document_.dump(oneLine_ ? -1 : 2, ' ', false,
                                   nlohmann::json::error_handler_t::replace)
                 << std::endl;
  } else if (!message.empty()) {
    streams_.err << "qvtool: " << message << '\n';
  }
  return code;
}

nlohmann::json DeviceJson(const PresentDevice& device, bool simulated) {
  return {{"name", device.name},
          {"matchText", device.matchText},
          {"driver", device.useAudioDriver ? "audio" : "vendor"},
          {"path", device.path},
          {"simulated", simulated}};
}

}  // namespace qv::cli
