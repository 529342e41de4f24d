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

// Everything at one scale in one run: the update window and the service window as above, with
// their screenshots update-DPI.bmp and service-DPI.bmp in screenshotDir, then the layout check
// program (qv_layout_check.exe DPI). Returns 0 when all three passed, 1 otherwise.
struct ScalePrograms {
  std::string update;   // qvupdate-sim.exe
  std::string service;  // qvservice-sim.exe
  std::string layoutCheck;
};
int RunScaleScenarios(const ScalePrograms& programs, int dpi, const std::string& workDir,
                      const std::string& screenshotDir);

}  // namespace qv::uitest
