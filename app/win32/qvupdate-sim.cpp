// The window program over the simulated device, set up from the environment variable QV_SIM
// (the default device when it is unset or empty).
#include <windows.h>

#include <string>

#include "app/win32/WindowProgram.h"
#include "platform/win32/Win32Clock.h"
#include "sim/PacedClock.h"
#include "sim/SimSetup.h"

namespace {

constexpr const char* kCaption = "qvupdate-sim";

std::string EnvironmentText(const char* name) {
  const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) return {};
  std::string value(needed, '\0');
  const DWORD length = GetEnvironmentVariableA(name, value.data(), needed);
  value.resize(length < needed ? length : 0);
  return value;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const qv::sim::SimSetupResult parsed = qv::sim::ParseSimSetup(EnvironmentText("QV_SIM"));
  if (!parsed.setup) {
    const std::string text = "QV_SIM: " + parsed.error;
    MessageBoxA(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONERROR);
    return 2;
  }
  qv::sim::Simulation simulation(*parsed.setup);
  if (!simulation.FileError().empty()) {
    MessageBoxA(nullptr, simulation.FileError().c_str(), kCaption, MB_OK | MB_ICONWARNING);
  }
  // Nobody reads the request log here, and a long session would only grow it.
  simulation.Bus().Log().SetEnabled(false);

  qv::Win32Clock realClock;
  qv::sim::PacedClock clock(realClock, simulation.Clock());
  qv::Win32Shell shell(qv::kApplicationTitle);
  return qv::RunWindowProgram(simulation.Bus(), simulation.Bus(), clock, shell);
}
