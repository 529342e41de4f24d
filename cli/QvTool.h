#pragma once

#include <atomic>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/DevicePorts.h"

namespace qv::cli {

enum ExitCode : int {
  kExitSuccess = 0,
  kExitFailed = 1,         // the operation failed on the device, or the update was not confirmed
  kExitUsage = 2,          // bad arguments, a refused firmware file, a file that cannot be written
  kExitNoDevice = 3,       // no device, or none this build can reach
  kExitInUse = 4,          // another program owns the device: nothing was sent to it
  kExitReplay = 5,         // a request differed from the replayed capture's
  kExitInterrupted = 130,  // stopped by Ctrl-C, after leaving the device protected
};

struct ToolStreams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool inIsTerminal = false;
  bool outIsTerminal = false;
  bool errIsTerminal = false;
  int columns = 80;  // of the terminal the progress is drawn on
  // Its columns now, for progress that follows a resize; empty: `columns` throughout.
  std::function<int()> measureColumns = nullptr;
  // Standard output moves its cursor on escape sequences, so several progress lines can be
  // redrawn in place (a console that cannot gets plain lines).
  bool outMovesCursor = true;
};

// What the surroundings give the tool besides its streams.
struct ToolHooks {
  // Ctrl-C presses so far; the flash commands stop at their next block once it is above 0.
  const std::atomic<int>* interrupts = nullptr;
  // Where the requests go instead of the ports the command line asks for (tests and the fault
  // matrix hand in a simulation of their own); it gets the --simulate setup, if any.
  std::function<PortsResult(const std::optional<std::string>& simulate)> ports;
};

// Runs one command line of qvtool (the arguments after the program name) and returns its exit
// code.
int RunQvTool(const std::vector<std::string>& args, const ToolStreams& streams,
              const ToolHooks& hooks = {});

}  // namespace qv::cli
