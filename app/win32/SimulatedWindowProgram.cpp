// The window program over the simulated device, set up from the environment variable QV_SIM.
#include <windows.h>

#include <string>
#include <string_view>

#include "app/win32/WindowProgram.h"
#include "platform/win32/Win32Clock.h"
#include "sim/PacedClock.h"
#include "sim/SimSetup.h"

namespace qv {
namespace {

std::string EnvironmentText(const char* name) {
  const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) return {};
  std::string value(needed, '\0');
  const DWORD length = GetEnvironmentVariableA(name, value.data(), needed);
  value.resize(length < needed ? length : 0);
  return value;
}

}  // namespace

int RunSimulatedWindowProgram(WindowMode mode, const char* caption) {
  const sim::SimSetupResult parsed = sim::ParseSimSetup(EnvironmentText("QV_SIM"));
  if (!parsed.setup) {
    const std::string text = "QV_SIM: " + parsed.error;
    MessageBoxA(nullptr, text.c_str(), caption, MB_OK | MB_ICONERROR);
    return 2;
  }
  sim::Simulation simulation(*parsed.setup);
  if (const std::string error = simulation.FileError(); !error.empty()) {
    MessageBoxA(nullptr, error.c_str(), caption, MB_OK | MB_ICONWARNING);
  }
  // Nobody reads the request log here, and a long session would only grow it.
  simulation.Bus().SetLogEnabled(false);

  Win32Clock realClock;
  sim::PacedClock clock(realClock, simulation.Clock());
  Win32Shell shell(kApplicationTitle);
  // Another process reaches a simulated device only through its flash file.
  return RunWindowProgram(
      simulation.Bus(), simulation.Bus(), clock, shell, mode,
      [&simulation](std::string_view path) { return simulation.ClaimKey(path); });
}

}  // namespace qv
