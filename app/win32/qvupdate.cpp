// The update window on real devices, as end users get it.
#include <windows.h>

#include "app/win32/WindowProgram.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return qv::RunRealWindowProgram(qv::WindowMode::kUpdate);
}
