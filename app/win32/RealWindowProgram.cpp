// The window program on real devices: SetupAPI discovery, DeviceIoControl and the real clock.
#include <string>
#include <string_view>

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
  return RunWindowProgram(
      {.io = io,
       .interfaces = interfaces,
       .clock = clock,
       // A request takes the time it takes.
       .deviceClock = [&clock](std::string_view) -> Clock& { return clock; },
       .kind = "setupapi",
       // A real device is claimed by its interface path, which names it to every process.
       .claimKeyFor = [](std::string_view path) { return std::string(path); }},
      shell, mode);
}

}  // namespace qv
