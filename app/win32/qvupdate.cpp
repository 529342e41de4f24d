// The window program on real devices: SetupAPI discovery, DeviceIoControl and the real clock.
#include <windows.h>

#include "app/win32/WindowProgram.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32DeviceInterfaces.h"
#include "platform/win32/Win32DeviceIo.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  qv::Win32DeviceIo io;
  qv::Win32DeviceInterfaces interfaces;
  qv::Win32Clock clock;
  qv::Win32Shell shell(qv::kApplicationTitle);
  return qv::RunWindowProgram(io, interfaces, clock, shell);
}
