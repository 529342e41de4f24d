#pragma once

#include <atomic>

namespace qv::cli {

// Ctrl-C: SIGINT and SIGTERM, or the console's control events on Windows. The first one asks the
// running command to stop at its next block, page or sector, so that the device is still
// protected and taken out of ISP mode before the tool ends; the second ends the process at once.
// Installs the handlers for the rest of the process's life and returns the count they raise.
const std::atomic<int>& InstallInterruptHandlers();

}  // namespace qv::cli
