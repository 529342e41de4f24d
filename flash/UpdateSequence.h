#pragma once

#include <functional>
#include <optional>
#include <string>

#include "flash/CoreState.h"
#include "flash/FlashProgress.h"

namespace qv {

// What the one-click update reports besides the flash operations' own events: its status line.
class UpdateProgress : public FlashProgress {
 public:
  enum class Style {
    kNormal,   // window-text colour
    kRetry,    // "ISP Fail and retry", red
    kSuccess,  // the final success text, blue, 16 points
    kFailure,  // the final failure text, red, 16 points
  };
  // A step of the update for its status line. What only shows texts shows the event's text in
  // the style StatusStyle gives it, as the window does.
  virtual void ReportStatus(const FlashEvent& event);
  // The status line as the window shows it.
  virtual void Status(const std::string& text, Style style) = 0;
  // The retry text has stood for its second: it goes back to the window-text colour.
  virtual void RetryOver() {}
};

// The retry in red, the result in its own colour and size, every other step as normal text.
UpdateProgress::Style StatusStyle(const FlashEvent& event);

inline constexpr int kUpdateAttempts = 3;

// The question asked before the one-click update starts, and what a "no" shows.
inline constexpr const char* kUpdateWarningCaption = "Warning";
inline constexpr const char* kUpdateWarningText =
    "Firmware Update is a critical operation. Please make sure the power stays on and do not "
    "disconnect the device before the update is complete. Would you like to proceed?";
inline constexpr const char* kUpdateAbortedText = "Abort Firmware update process";

// What a caller may add to the one-click update. The window runs the sequence as it stands, over a
// replayed capture with the last check only; the command-line tool refuses a flash that does not
// answer before anything is erased, and stops retrying once the device has left.
struct UpdateChecks {
  // After the flash was identified, before anything is erased: a reason not to go on. It may
  // identify the flash again (which sets the programming parameters anew).
  std::function<std::optional<std::string>(CoreState&)> beforeErase;
  // After the status register was cleared, before the erase: a reason not to erase (a flash that
  // stays protected ignores the erase, and must not be taken for erased).
  std::function<std::optional<std::string>(CoreState&)> afterClear;
  // After an attempt failed: a reason not to try again.
  std::function<std::optional<std::string>(const CoreState&)> beforeRetry;
  // After the last request, before the result is shown: a reason the update is no success
  // whatever the device answered (a replayed capture that the requests left: the protection and
  // the ISP mode exit fail without failing the update).
  std::function<std::optional<std::string>(const CoreState&)> beforeResult;
};

struct UpdateResult {
  bool success = false;
  bool erased = false;   // an erase was sent: the flash's earlier contents may be gone
  bool stopped = false;  // the progress asked to stop
  bool secured = false;  // the final protection and the ISP mode exit went through
  std::string reason;    // why a check ended the update early, if one did
};

// The one-click update on an image of FlashImage.Length bytes (or the whole flash the core holds
// to write back) at flash address 0: ISP mode,
// chip set-up, up to three attempts of clear status, chip erase, blank check, program and verify,
// then protection and leaving ISP mode whatever the outcome, and the final text. SequenceFailed
// tells the outcome as well. An empty image (Length 0) is refused before anything is sent. A stop
// request ends the attempt at its next block or page (an erase under way is waited for), then
// the flash is protected and ISP mode left as at any other end. A check or stop before the first
// attempt leaves the flash as it was: ISP mode is left, the status register not written.
UpdateResult RunOneClickUpdate(CoreState& core, UpdateProgress& progress,
                               const UpdateChecks& checks = {});

}  // namespace qv
