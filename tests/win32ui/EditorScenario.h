#pragma once

#include <string>

// The service window's "Gen. Bin File" page, driven as an engineer uses it: "Current File" with
// the open dialog answered, once for a firmware file that carries the user-parameter marker and
// once for one that does not.

namespace qv::uitest {

// Empties workDir first and writes the two files there. Returns the process exit code: 0 when
// everything matched, 1 otherwise.
int RunEditorScenario(const std::string& program, const std::string& workDir,
                      const std::string& screenshot);

}  // namespace qv::uitest
