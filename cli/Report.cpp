#include "cli/Report.h"

#include <regex>

namespace qv::cli {
namespace {

// "Blanking Fail at 0x000123", "Stopped at 0x000300", "Erase Flash Fail", "Range Error: ...".
bool IsFailure(const std::string& text) {
  return text.find("Fail") != std::string::npos || text.starts_with("Stopped") ||
         text.starts_with("Range Error");
}

}  // namespace

void Report::AddSteps(const std::vector<Step>& steps, std::chrono::microseconds end) {
  static const std::regex kAddress("at 0x([0-9A-F]+)");
  nlohmann::json list = nlohmann::json::array();
  // The failure that says the most: the last one naming an address, else the last one at all
  // (the retry and final texts only sum up the ones before them).
  const Step* failure = nullptr;
  const Step* withAddress = nullptr;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const auto until = i + 1 < steps.size() ? steps[i + 1].at : end;
    list.push_back({{"text", steps[i].text},
                    {"seconds", static_cast<double>((until - steps[i].at).count()) / 1e6}});
    if (!IsFailure(steps[i].text)) continue;
    failure = &steps[i];
    if (std::regex_search(steps[i].text, kAddress)) withAddress = &steps[i];
  }
  document_["steps"] = list;
  if (withAddress) failure = withAddress;
  if (!failure) return;
  nlohmann::json failed = {{"text", failure->text}};
  std::smatch match;
  if (std::regex_search(failure->text, match, kAddress))
    failed["address"] = std::stoul(match[1].str(), nullptr, 16);
  document_["failure"] = failed;
}

int Report::End(int code, const std::string& message, bool warning) {
  if (json_) {
    document_["exit"] = code;
    if (!message.empty()) document_[warning ? "warning" : "error"] = message;
    streams_.out << document_.dump(2) << std::endl;
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
