// The service window, with the engineering pages, over the simulated device (QV_SIM).
#include <windows.h>

#include "app/win32/WindowProgram.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return qv::RunSimulatedWindowProgram(qv::WindowMode::kService, "qvservice-sim");
}
