#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qv {

// The steps the flash work reports. Each has a name that stays the same whatever its texts say,
// for scripts (qvtool's --json and the bench's record).
enum class FlashStep {
  kProbe,        // whether the device answers, before its flash is touched (update --all)
  kIspEnter,     // "Enter ISP Mode"
  kClearStatus,  // the status register cleared: protection off
  kErase,        // chip or sector erase, with its polls
  kBlankCheck,
  kProgram,
  kVerify,
  kReadBack,
  kBackup,  // the flash read into a file before an update or by qvtool's backup
  kRetry,   // an attempt of the one-click update failed and another follows
  kResult,  // the one-click update's final text, or its refusal
};

// "probe", "isp-enter", "clear-status", "erase", "blank-check", "program", "verify", "read-back",
// "backup", "retry", "result".
const char* FlashStepName(FlashStep step);

// A step began, passed, failed or was stopped: the value, and the text the window shows for it.
struct FlashEvent {
  enum class Kind { kStart, kSuccess, kFailure, kStopped };
  FlashStep step = FlashStep::kResult;
  Kind kind = Kind::kStart;
  // Where the step failed or stopped, or the sector it works on; none for a refused range.
  std::optional<std::uint32_t> address = std::nullopt;
  std::string text;

  bool operator==(const FlashEvent&) const = default;
};

// Where the flash operations report what they are doing. The window shows the texts in the ISP
// page's labels and processes its pending messages; the command-line tool draws progress bars
// and keeps the events.
class FlashProgress {
 public:
  enum class Label {
    kProcessInfo,     // start, success and failure texts
    kProcessAddress,  // the address being worked on
    kStatusRegister,  // the flash status while erasing
  };

  virtual ~FlashProgress() = default;
  // A text for one of the window's labels. The operations show addresses and the status register
  // here; their steps come as events.
  virtual void Show(Label label, const std::string& text) = 0;
  // A step's start, success, failure or stop. What only shows texts shows the event's text in the
  // process-info label, as the window does.
  virtual void Report(const FlashEvent& event) { Show(Label::kProcessInfo, event.text); }
  // How far a range operation has come: `address` within [start, end).
  virtual void Advance(std::uint32_t /*address*/, std::uint32_t /*start*/, std::uint32_t /*end*/) {}
  // Lets the window process pending messages after each block, page or poll.
  virtual void ProcessMessages() = 0;
  // Asked before each block, page and sector: true ends the operation there (the command-line
  // tool's Ctrl-C). The window has no such request.
  virtual bool StopRequested() { return false; }
};

// A progress that shows nothing, for callers that only want the result.
class SilentProgress : public FlashProgress {
 public:
  void Show(Label, const std::string&) override {}
  void ProcessMessages() override {}
};

}  // namespace qv
