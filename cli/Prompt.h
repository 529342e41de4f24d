#pragma once

#include <string>

#include "cli/QvTool.h"
#include "cli/Report.h"

namespace qv::cli {

// Asks before a device is changed: "Warning: <warning>", then the question ("Proceed? [y/N] ").
// Only a terminal can answer; true for y or yes in any case.
bool Confirm(const ToolStreams& streams, Report& report, const std::string& warning,
             const std::string& question = "Proceed?");

}  // namespace qv::cli
