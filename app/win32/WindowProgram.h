#pragma once

#include <functional>
#include <string>

#include "app/DeviceOwnership.h"
#include "platform/Clock.h"
#include "platform/ConversationCapture.h"
#include "platform/DeviceInterfaces.h"
#include "platform/DeviceIo.h"
#include "ui/win32/Win32Shell.h"

namespace qv {

// Which window the program shows: the update panel that end users get, or the service build's
// window with the engineering pages. The one switch between the two programs of each pair.
enum class WindowMode { kUpdate, kService };

// The window program's exit status when a replayed capture's requests differed from the window's,
// as qvtool's; 2 when the environment asked for what could not be done (a bad QV_SIM, a capture
// that could not be opened or written).
inline constexpr int kExitSetup = 2;
inline constexpr int kExitReplayLeft = 5;

// What the window works through, and how a capture of its conversation names and times it.
struct WindowPorts {
  DeviceIo& io;
  DeviceInterfaces& interfaces;
  Clock& clock;  // the window's pauses and time
  // The clock a request to the device at a path takes its time on, as a capture records it.
  ConversationCapture::ClockFor deviceClock;
  const char* kind;  // as a capture's first line names the ports: "setupapi", "simulated", "replay"
  // The window claims each device it sends to by the key this gives, in the name of the program's
  // file.
  ClaimKeyFor claimKeyFor;
  // Over a replayed capture: the capture's file, which no capture may overwrite, and the first
  // request that differed (empty while none did).
  std::string replayedFile = {};
  std::function<std::string()> replayMismatch = {};
};

// The window program over the given ports: creates the state and the main window, runs its
// creation event, shows it and runs the message loop until the window closes. When the
// environment variable QV_CAPTURE names a file, the conversation with the devices is captured
// into it; a file that cannot be opened is shown in a message box and ends the program with
// status 2 before anything is sent. A capture that could not be written to its end is shown when
// the window has closed (status 2); the devices are worked with as though it were whole. A
// replay the requests left is shown once the handler that met it returns (status 5). Returns
// the exit status.
int RunWindowProgram(WindowPorts ports, Win32Shell& shell, WindowMode mode);

// The same over real devices: SetupAPI discovery, DeviceIoControl and the real clock.
int RunRealWindowProgram(WindowMode mode);

// The same over the simulated device set up by the environment variable QV_SIM (the default
// device when it is unset or empty), or over the capture that "replay=FILE" names, paced in real
// time; a bad setup or a capture that cannot be read is shown in a message box under `caption`
// and ends the program with status 2.
int RunSimulatedWindowProgram(WindowMode mode, const char* caption);

// The value of an environment variable; empty when it is unset.
std::string EnvironmentText(const char* name);

// The name the standard error box carries, as the program's own.
inline constexpr const char* kApplicationTitle = "qvupdate";

}  // namespace qv
