// The service window, with the engineering pages, on real devices.
#include <windows.h>

#include "app/win32/WindowProgram.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return qv::RunRealWindowProgram(qv::WindowMode::kService);
}
