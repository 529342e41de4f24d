// Drives the window program under test from outside, as a user's desktop sees it. Two kinds of
// run:
//
//   qv_ui_driver <qvupdate-sim.exe> <screenshot.bmp>
//     start-up with no device plugged in: finds the window by caption, checks the size and what
//     the update panel shows, saves a screenshot, closes the window and checks the exit code.
//   qv_ui_driver update|update-fail|update-unplug <qvupdate-sim.exe> <work folder> <screenshot.bmp>
//     the one-click firmware update on a simulated device, to success (captured, then replayed
//     from the capture), to failure (every flash read disturbed) or with the device leaving in
//     the middle; see UpdateScenario.h.
//   qv_ui_driver update-real|update-real-unplug <qvupdate.exe> <work folder> <screenshot.bmp>
//     the same update in the real program, on a device of the loopback test driver that it finds
//     and reaches through Windows (the success captured).
//   qv_ui_driver update-load <qvservice-sim.exe> <work folder> <screenshot.bmp>
//     the same update in the service window, with another file opened on the "Gen. Bin File"
//     page while it runs: the flash must end with the model's file.
//   qv_ui_driver update-keys <qvupdate-sim.exe> <work folder> <screenshot.bmp>
//     the same update started from the keyboard alone: Tab to Start, Enter, the question.
//   qv_ui_driver update-owned <qvupdate-sim.exe> <work folder> <screenshot.bmp> [<qvtool.exe>]
//     the same update on a device the driver holds first, as another program would, with the
//     session asked to end while it runs, and qvtool.exe started on the device meanwhile.
//   qv_ui_driver service <qvservice-sim.exe> <screenshot.bmp>
//     the engineering pages of the service window; see ServiceScenario.h.
//   qv_ui_driver editor <qvservice-sim.exe> <work folder> <screenshot.bmp>
//     the "Gen. Bin File" page with its open dialog answered; see EditorScenario.h.
//   qv_ui_driver scale <dpi> <qvupdate-sim.exe> <qvservice-sim.exe> <qv_layout_check.exe>
//                      <work folder> <screenshot folder>
//     both windows and the layout check at the desktop's display scale; see ScaleScenario.h.
//
// Exits 0 when everything matched; otherwise prints each mismatch as a FAIL: line and exits 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/win32ui/EditorScenario.h"
#include "tests/win32ui/ProgramUnderTest.h"
#include "tests/win32ui/ScaleScenario.h"
#include "tests/win32ui/ServiceScenario.h"
#include "tests/win32ui/UpdateScenario.h"
#include "tests/win32ui/WindowSnapshot.h"

namespace qv::uitest {
namespace {

constexpr int kExpectedWidth = 606;
constexpr int kExpectedHeight = 200;
constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 15000;
// Long enough for the first timer ticks, so the panel shows what polling leaves on it.
constexpr DWORD kSettleMs = 2500;

void CheckPanel(HWND window, Failures& failures) {
  RECT rect{};
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  failures.Check(width == kExpectedWidth && height == kExpectedHeight,
                 "window size " + std::to_string(width) + " x " + std::to_string(height) +
                     ", expected 606 x 200");

  const std::vector<ChildWindow> children = ChildWindows(window);
  struct Shown {
    const char* text;
    const char* windowClass;
  };
  for (const Shown& shown : {Shown{"No device is available", "Static"},
                             Shown{"No Updated File !", "Static"}, Shown{"Start", "Button"}}) {
    const ChildWindow* child = FindChild(children, shown.text, shown.windowClass);
    failures.Check(child && child->visible,
                   std::string("\"") + shown.text + "\" is not shown on the update panel");
  }
  if (const ChildWindow* start = FindChild(children, "Start", "Button")) {
    failures.Check(!start->enabled, "Start is enabled with no device and no file");
  }
  // Out of sight: the engineering pages and the panel's engineering controls.
  int pageControls = 0;
  for (const ChildWindow& child : children) {
    const bool engineering =
        child.windowClass == "QvPageControl" || child.windowClass == "QvTabSheet";
    if (child.windowClass == "QvPageControl") ++pageControls;
    failures.Check(!(engineering && child.visible), "engineering page \"" + child.text + "\" (" +
                                                        child.windowClass + ") is visible");
  }
  failures.Check(pageControls == 1,
                 "expected one page control, found " + std::to_string(pageControls));
  for (const char* hidden : {"Detect Device", "File", "Read Bank", "Chip ID", "Auto"}) {
    const ChildWindow* child = FindChild(children, hidden, nullptr);
    failures.Check(!child || !child->visible, std::string("\"") + hidden + "\" is visible");
  }
}

int RunStartupScenario(const std::string& program, const std::string& screenshot) {
  Failures failures;
  const ULONGLONG started = GetTickCount64();
  ProgramUnderTest sim(program, "model=none");
  if (!sim.Started()) return 1;
  HWND window = sim.WaitForMainWindow(kMainCaption, kStartTimeoutMs, started);
  if (!window) return 1;
  Sleep(kSettleMs);

  CheckPanel(window, failures);
  if (SaveWindowBitmap(window, screenshot)) {
    std::printf("screenshot: %s\n", screenshot.c_str());
  } else {
    failures.Check(false, "could not save the screenshot " + screenshot);
  }
  sim.CloseAndCheckExit(window, kExitTimeoutMs, failures);
  std::printf("%s (%llu ms)\n", failures.count == 0 ? "window test passed" : "window test FAILED",
              GetTickCount64() - started);
  return failures.count == 0 ? 0 : 1;
}

// The update scenarios by their first argument.
struct UpdateMode {
  const char* name;
  UpdateOutcome outcome;
  UpdateDisturbance disturbance;
  UpdateDevice device;
  UpdateCapture capture = UpdateCapture::kNone;
};
constexpr UpdateMode kUpdateModes[] = {
    {.name = "update",
     .outcome = UpdateOutcome::kSuccess,
     .disturbance = UpdateDisturbance::kNone,
     .device = UpdateDevice::kSimulatedTwin,
     .capture = UpdateCapture::kCapturedAndReplayed},
    {.name = "update-fail",
     .outcome = UpdateOutcome::kFailure,
     .disturbance = UpdateDisturbance::kNone,
     .device = UpdateDevice::kSimulatedTwin},
    {.name = "update-unplug",
     .outcome = UpdateOutcome::kUnplugged,
     .disturbance = UpdateDisturbance::kNone,
     .device = UpdateDevice::kSimulatedTwin},
    {.name = "update-load",
     .outcome = UpdateOutcome::kSuccess,
     .disturbance = UpdateDisturbance::kEditorLoad,
     .device = UpdateDevice::kSimulatedTwin},
    {.name = "update-keys",
     .outcome = UpdateOutcome::kSuccess,
     .disturbance = UpdateDisturbance::kKeyboard,
     .device = UpdateDevice::kSimulatedTwin},
    {.name = "update-owned",
     .outcome = UpdateOutcome::kSuccess,
     .disturbance = UpdateDisturbance::kOtherOwner,
     .device = UpdateDevice::kSimulatedTwin},
    {.name = "update-real",
     .outcome = UpdateOutcome::kSuccess,
     .disturbance = UpdateDisturbance::kNone,
     .device = UpdateDevice::kLoopbackDriver,
     .capture = UpdateCapture::kCaptured},
    {.name = "update-real-unplug",
     .outcome = UpdateOutcome::kUnplugged,
     .disturbance = UpdateDisturbance::kNone,
     .device = UpdateDevice::kLoopbackDriver},
};

int Usage() {
  std::printf(
      "usage: qv_ui_driver <qvupdate-sim.exe> <screenshot.bmp>\n"
      "       qv_ui_driver update|update-fail|update-unplug <qvupdate-sim.exe> <work folder> "
      "<screenshot.bmp>\n"
      "       qv_ui_driver update-real|update-real-unplug <qvupdate.exe> <work folder> "
      "<screenshot.bmp>\n"
      "       qv_ui_driver update-keys <qvupdate-sim.exe> <work folder> <screenshot.bmp>\n"
      "       qv_ui_driver update-load <qvservice-sim.exe> <work folder> <screenshot.bmp>\n"
      "       qv_ui_driver update-owned <qvupdate-sim.exe> <work folder> <screenshot.bmp> "
      "[<qvtool.exe>]\n"
      "       qv_ui_driver service <qvservice-sim.exe> <screenshot.bmp>\n"
      "       qv_ui_driver editor <qvservice-sim.exe> <work folder> <screenshot.bmp>\n"
      "       qv_ui_driver scale <dpi> <qvupdate-sim.exe> <qvservice-sim.exe> "
      "<qv_layout_check.exe> <work folder> <screenshot folder>\n");
  return 2;
}

}  // namespace
}  // namespace qv::uitest

int main(int argc, char** argv) {
  using namespace qv::uitest;
  if (argc == 3) return RunStartupScenario(WindowsPath(argv[1]), WindowsPath(argv[2]));
  if (argc == 8 && std::strcmp(argv[1], "scale") == 0) {
    const ScalePrograms programs{WindowsPath(argv[3]), WindowsPath(argv[4]), WindowsPath(argv[5])};
    return RunScaleScenarios(programs, std::atoi(argv[2]), WindowsPath(argv[6]),
                             WindowsPath(argv[7]));
  }
  if (argc == 4 && std::strcmp(argv[1], "service") == 0)
    return RunServiceScenario(WindowsPath(argv[2]), WindowsPath(argv[3]));
  if (argc == 5 && std::strcmp(argv[1], "editor") == 0)
    return RunEditorScenario(WindowsPath(argv[2]), WindowsPath(argv[3]), WindowsPath(argv[4]));
  if (argc == 5 || (argc == 6 && std::strcmp(argv[1], "update-owned") == 0)) {
    for (const UpdateMode& mode : kUpdateModes) {
      if (std::strcmp(argv[1], mode.name) != 0) continue;
      return RunUpdateScenario(WindowsPath(argv[2]), WindowsPath(argv[3]), WindowsPath(argv[4]),
                               mode.outcome, mode.disturbance, mode.device, mode.capture,
                               argc == 6 ? WindowsPath(argv[5]) : std::string());
    }
  }
  return Usage();
}
