#pragma once

#include <atomic>

namespace qv::cli {

// Every way a run can be ended from outside goes through one safe stop: Ctrl-C (SIGINT), a closed
// terminal (SIGHUP), a service manager's stop (SIGTERM), and on Windows the console's Ctrl-C,
// Ctrl-Break, close, logoff and shutdown events. The first one asks the running command to stop
// at its next block, page or sector, so that the device is still protected and taken out of ISP
// mode and the tool says what the flash holds; the second ends the process at once. A closed pipe
// (SIGPIPE) ends nothing: the write fails, and the tool ends as it would with any output it could
// not write, once the device is safe.
// Installs the handlers for the rest of the process's life and returns the count they raise
// (tests set it back to 0 between runs).
std::atomic<int>& InstallInterruptHandlers();

}  // namespace qv::cli
