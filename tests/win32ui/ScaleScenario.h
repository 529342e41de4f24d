#pragma once

#include <string>

// A window program at one display scale, as the desktop shows it: a simulated Brevanto RX1 Pro
// and its firmware file found (the longest file line the panel shows), the window aware of each
// monitor's scale, at the density the desktop gives and at the size its layout takes there, and a
// screenshot.

namespace qv::uitest {

enum class WindowKind { kUpdate, kService };

// Empties workDir first and writes the firmware file there. Returns the process exit code: 0 when
// everything matched, 1 otherwise.
int RunScaleScenario(const std::string& program, WindowKind kind, int dpi,
                     const std::string& workDir, const std::string& screenshot);

}  // namespace qv::uitest
