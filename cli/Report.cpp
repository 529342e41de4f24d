#include "cli/Report.h"

#include <cmath>
#include <iomanip>
#include <sstream>

namespace qv::cli {
namespace {

// A device that did not answer its probe never reached its flash: its error tells why, and no
// step of the flash failed.
bool FlashStepWentWrong(const FlashEvent& event) {
  return (event.kind == FlashEvent::Kind::kFailure || event.kind == FlashEvent::Kind::kStopped) &&
         event.step != FlashStep::kProbe;
}

}  // namespace

const char* ResultWord(int exit) {
  return exit == kExitSuccess ? "success" : exit == kExitInterrupted ? "stopped" : "failed";
}

double SecondsValue(std::chrono::microseconds time) {
  // To the millisecond, which is all a reader needs, and a short number in a document
  // (0.899 rather than 0.8993949999999999).
  return std::round(static_cast<double>(time.count()) / 1e3) / 1e3;
}

const Step* TellingFailure(const std::vector<Step>& steps) {
  // The failure that says the most: the last one with an address, else the last one at all
  // (the retry and the result only sum up the ones before them).
  const Step* failure = nullptr;
  const Step* withAddress = nullptr;
  for (const Step& step : steps) {
    if (!FlashStepWentWrong(step.event)) continue;
    failure = &step;
    if (step.event.address) withAddress = &step;
  }
  return withAddress ? withAddress : failure;
}

void AddSteps(nlohmann::json& into, const std::vector<Step>& steps, std::chrono::microseconds end) {
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const auto until = i + 1 < steps.size() ? steps[i + 1].at : end;
    list.push_back({{"name", FlashStepName(steps[i].event.step)},
                    {"text", steps[i].event.text},
                    {"seconds", SecondsValue(until - steps[i].at)}});
  }
  into["steps"] = list;
  const Step* failure = TellingFailure(steps);
  if (!failure) return;
  nlohmann::json failed = {{"step", FlashStepName(failure->event.step)},
                           {"text", failure->event.text}};
  if (failure->event.address) failed["address"] = *failure->event.address;
  into["failure"] = failed;
}

std::string Seconds(std::chrono::microseconds time) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << static_cast<double>(time.count()) / 1e6 << " s";
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
    // The document's key says "warning"; the text says it in words.
    streams_.err << "qvtool: " << (warning ? "warning: " : "") << message << '\n';
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
