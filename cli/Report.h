#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "cli/DeviceSelection.h"
#include "cli/QvTool.h"
#include "flash/FlashProgress.h"

// What a command shows: lines of text on standard output, or, with --json, one JSON document
// there and nothing else.
namespace qv::cli {

// One step of a flash command as its progress reported it (the text as shown, without trailing
// blanks), with when it began.
struct Step {
  FlashEvent event;
  std::chrono::microseconds at{0};
};

class Report {
 public:
  Report(const ToolStreams& streams, bool json) : streams_(streams), json_(json) {}
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  bool Json() const { return json_; }
  // Standard output for the text of a command; with --json a stream that drops everything.
  std::ostream& Out() { return json_ ? null_ : streams_.out; }
  // Where questions and notes go: standard error with --json, so the document stays whole.
  std::ostream& Talk() { return json_ ? streams_.err : streams_.out; }
  nlohmann::json& Document() { return document_; }

  // The document goes out on one line, as one line of a stream of JSON lines.
  void SetOneLine() { oneLine_ = true; }

  // Ends the command with its exit code. With --json the document goes out with "exit" (and
  // "error", or "warning", when there is a message); otherwise a message goes to standard error
  // as "qvtool: ...". Returns the code.
  int End(int code, const std::string& message = {}, bool warning = false);

 private:
  const ToolStreams& streams_;
  bool json_;
  bool oneLine_ = false;
  std::ostream null_{nullptr};
  // Every document says which qvtool wrote it.
  nlohmann::json document_ = {{"toolVersion", QV_TOOL_VERSION}};
};

// A flash command's result as the document gives it: "success", "stopped" or "failed".
const char* ResultWord(int exit);

// The failure of a flash command that says the most: the last failure or stop with an address,
// else the last one; nullptr when nothing failed.
const Step* TellingFailure(const std::vector<Step>& steps);

// The steps with their names and durations, and the telling failure with its step and address,
// into a document.
void AddSteps(nlohmann::json& into, const std::vector<Step>& steps, std::chrono::microseconds end);

// A duration as the text shows it ("1.5 s"), and as the document does (1.5).
std::string Seconds(std::chrono::microseconds time);
double SecondsValue(std::chrono::microseconds time);

// A present device as the document shows it.
nlohmann::json DeviceJson(const PresentDevice& device, bool simulated);

}  // namespace qv::cli
