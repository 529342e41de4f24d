#pragma once

#include "platform/Clock.h"
#include "platform/DeviceInterfaces.h"
#include "platform/DeviceIo.h"
#include "ui/win32/Win32Shell.h"

namespace qv {

// The window program over the given ports: creates the state and the main window, runs its
// creation event, shows it and runs the message loop until the window closes. Returns the exit
// code.
int RunWindowProgram(DeviceIo& io, DeviceInterfaces& interfaces, Clock& clock, Win32Shell& shell);

// The name the standard error box carries, as the program's own.
inline constexpr const char* kApplicationTitle = "qvupdate";

}  // namespace qv
