// The update window over the simulated device (QV_SIM).
#include <windows.h>

#include "app/win32/WindowProgram.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return qv::RunSimulatedWindowProgram(qv::WindowMode::kUpdate, "qvupdate-sim");
}
