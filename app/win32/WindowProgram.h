#pragma once

#include "app/DeviceOwnership.h"
#include "platform/Clock.h"
#include "platform/DeviceInterfaces.h"
#include "platform/DeviceIo.h"
#include "ui/win32/Win32Shell.h"

namespace qv {

// Which window the program shows: the update panel that end users get, or the service build's
// window with the engineering pages. The one switch between the two programs of each pair.
enum class WindowMode { kUpdate, kService };

// The window program over the given ports: creates the state and the main window, runs its
// creation event, shows it and runs the message loop until the window closes. The window claims
// each device it sends to by the key `claimKeyFor` gives, in the name of the program's file.
// Returns the exit code.
int RunWindowProgram(DeviceIo& io, DeviceInterfaces& interfaces, Clock& clock, Win32Shell& shell,
                     WindowMode mode, ClaimKeyFor claimKeyFor);

// The same over real devices: SetupAPI discovery, DeviceIoControl and the real clock.
int RunRealWindowProgram(WindowMode mode);

// The same over the simulated device set up by the environment variable QV_SIM (the default
// device when it is unset or empty); a bad setup is shown in a message box under `caption` and
// ends the program with status 2.
int RunSimulatedWindowProgram(WindowMode mode, const char* caption);

// The name the standard error box carries, as the program's own.
inline constexpr const char* kApplicationTitle = "qvupdate";

}  // namespace qv
