#pragma once

#include <string>

// The service window over a simulated device, driven as an engineer uses it: the register bank
// read into the grid, the playback status after Update, the stored settings after Read back.

namespace qv::uitest {

// Returns the process exit code: 0 when everything matched, 1 otherwise.
int RunServiceScenario(const std::string& program, const std::string& screenshot);

}  // namespace qv::uitest
