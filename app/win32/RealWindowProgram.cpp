// The window program on real devices: SetupAPI discovery, DeviceIoControl and the real clock.
#include "app/win32/WindowProgram.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32DeviceInterfaces.h"
#include "platform/win32/Win32DeviceIo.h"

namespace qv {

int RunRealWindowProgram(WindowMode mode) {
  Win32DeviceIo io;
  Win32DeviceInterfaces interfaces;
  Win32Clock clock;
  Win32Shell shell(kApplicationTitle);
  return RunWindowProgram(io, interfaces, clock, shell, mode);
}

}  // namespace qv
