#pragma once

#include <atomic>
#include <string>

#include "cli/QvTool.h"
#include "cli/Report.h"

namespace qv::cli {

enum class Answer { kYes, kNo, kStopped };

// Asks before a device is changed: "Warning: <warning>", then the question ("Proceed? [y/N] ").
// Only a terminal can answer; kYes for y or yes in any case. Ctrl-C (or any signal that ends a
// run, counted in `interrupts`) while it waits is kStopped, whatever was typed.
Answer Confirm(const ToolStreams& streams, Report& report, const std::atomic<int>* interrupts,
               const std::string& warning, const std::string& question = "Proceed?");

// What a question ended by Ctrl-C leaves: nothing sent.
inline constexpr const char* kStoppedAtQuestionText = "stopped at the question: nothing was sent";

}  // namespace qv::cli
