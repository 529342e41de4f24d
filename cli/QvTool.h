#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace qv::cli {

enum ExitCode : int {
  kExitSuccess = 0,
  kExitFailed = 1,    // the operation failed on the device, or the update was not confirmed
  kExitUsage = 2,     // bad arguments, a refused firmware file, a file that cannot be written
  kExitNoDevice = 3,  // no device, or none this build can reach
};

struct ToolStreams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool inIsTerminal = false;
  bool outIsTerminal = false;
  bool errIsTerminal = false;
};

// Runs one command line of qvtool (the arguments after the program name) and returns its exit
// code.
int RunQvTool(const std::vector<std::string>& args, const ToolStreams& streams);

}  // namespace qv::cli
