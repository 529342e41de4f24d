#pragma once

#include <string>

#include "flash/CoreState.h"
#include "flash/FlashProgress.h"

namespace qv {

// What the one-click update reports besides the flash operations' own texts: its status line.
class UpdateProgress : public FlashProgress {
 public:
  enum class Style {
    kNormal,   // window-text colour
    kRetry,    // "ISP Fail and retry", red
    kSuccess,  // the final success text, blue, 16 points
    kFailure,  // the final failure text, red, 16 points
  };
  virtual void Status(const std::string& text, Style style) = 0;
  // The retry text has stood for its second: it goes back to the window-text colour.
  virtual void RetryOver() {}
};

inline constexpr int kUpdateAttempts = 3;

// The question asked before the one-click update starts, and what a "no" shows.
inline constexpr const char* kUpdateWarningCaption = "Warning";
inline constexpr const char* kUpdateWarningText =
    "Firmware Update is a critical operation. Please make sure the power stays on and do not "
    "disconnect the device before the update is complete. Would you like to proceed?";
inline constexpr const char* kUpdateAbortedText = "Abort Firmware update process";

// The one-click update on an image of FlashImage.Length bytes at flash address 0: ISP mode,
// chip set-up, up to three attempts of clear status, chip erase, blank check, program and verify,
// then protection and leaving ISP mode whatever the outcome, and the final text. Returns true on
// success; SequenceFailed tells the same. An empty image (Length 0) is refused before anything
// is sent.
bool RunOneClickUpdate(CoreState& core, UpdateProgress& progress);

}  // namespace qv
