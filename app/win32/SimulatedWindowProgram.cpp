// The window program over the simulated device, set up from the environment variable QV_SIM, or
// over a captured conversation that it names.
#include <windows.h>

#include <string>
#include <string_view>

#include "app/win32/WindowProgram.h"
#include "platform/win32/Win32Clock.h"
#include "sim/CaptureReplay.h"
#include "sim/PacedClock.h"
#include "sim/SimSetup.h"

namespace qv {
namespace {

int RefuseSetup(const std::string& error, const char* caption) {
  const std::string text = "QV_SIM: " + error;
  MessageBoxA(nullptr, text.c_str(), caption, MB_OK | MB_ICONERROR);
  return kExitSetup;
}

// The window over devices that answer from a capture, the capture's time paced as the
// simulation's is: its pauses real, and every captured request's time on its device's clock.
int RunReplay(WindowMode mode, const char* caption, const std::string& file) {
  sim::CaptureReplay::Loaded loaded = sim::CaptureReplay::Load(file);
  if (!loaded.replay) return RefuseSetup(loaded.error, caption);
  sim::CaptureReplay& replay = *loaded.replay;
  Win32Clock realClock;
  sim::PacedClock clock(realClock, replay.BusClock());
  Win32Shell shell(kApplicationTitle);
  return RunWindowProgram({.io = replay,
                           .interfaces = replay,
                           .clock = clock,
                           .deviceClock = [&replay](std::string_view path) -> Clock& {
                             return replay.ClockOf(std::string(path));
                           },
                           .kind = "replay",
                           // Nobody else can reach a replayed device.
                           .claimKeyFor = [](std::string_view) { return std::string(); },
                           .replayedFile = file,
                           .replayMismatch = [&replay] { return replay.Mismatch(); }},
                          shell, mode);
}

}  // namespace

int RunSimulatedWindowProgram(WindowMode mode, const char* caption) {
  const std::string setup = EnvironmentText("QV_SIM");
  if (const auto replay = sim::ParseReplaySetup(setup)) {
    if (!replay->error.empty()) return RefuseSetup(replay->error, caption);
    return RunReplay(mode, caption, replay->file);
  }
  const sim::SimSetupResult parsed = sim::ParseSimSetup(setup);
  if (!parsed.setup) return RefuseSetup(parsed.error, caption);
  sim::Simulation simulation(*parsed.setup);
  if (const std::string error = simulation.FileError(); !error.empty()) {
    MessageBoxA(nullptr, error.c_str(), caption, MB_OK | MB_ICONWARNING);
  }
  // Nobody reads the request log here, and a long session would only grow it.
  simulation.Bus().SetLogEnabled(false);

  Win32Clock realClock;
  sim::PacedClock clock(realClock, simulation.Clock());
  Win32Shell shell(kApplicationTitle);
  return RunWindowProgram(
      {.io = simulation.Bus(),
       .interfaces = simulation.Bus(),
       .clock = clock,
       // A request takes its modelled time on its device's own clock.
       .deviceClock = [&simulation](std::string_view path) -> Clock& {
         if (sim::SimDevice* device = simulation.Bus().DeviceAt(path)) return device->Clock();
         return simulation.Clock();
       },
       .kind = "simulated",
       // Another process reaches a simulated device only through its flash file.
       .claimKeyFor = [&simulation](std::string_view path) { return simulation.ClaimKey(path); }},
      shell, mode);
}

}  // namespace qv
