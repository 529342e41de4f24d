#include "tests/win32ui/ScaleScenario.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "tests/win32ui/ProgramUnderTest.h"
#include "tests/win32ui/WindowSnapshot.h"
#include "tests/win32ui/WorkFiles.h"

namespace qv::uitest {
namespace {

constexpr DWORD kStartTimeoutMs = 30000;
// Polling probes one model-table row a second; the RX1 Pro is the sixth.
constexpr DWORD kReadyTimeoutMs = 30000;
constexpr const char* kReadyText = "Firmware Update file   Brevanto_RX1Pro.hex    is Ready!";

// The window's size in layout units (pixels at 96 dpi): the update window takes the larger size
// from 120 dpi on, the service window keeps its designed one.
struct LayoutSize {
  int width;
  int height;
};
LayoutSize ExpectedLayoutSize(WindowKind kind, int dpi) {
  if (kind == WindowKind::kService) return {607, 637};
  return dpi >= 120 ? LayoutSize{746, 340} : LayoutSize{606, 200};
}

// Runs a console program in this console and returns its exit code (1 when it cannot start or
// does not end in time).
int RunConsoleProgram(std::string commandLine, DWORD timeoutMs) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::printf("FAIL: cannot start %s (error %lu)\n", commandLine.c_str(), GetLastError());
    return 1;
  }
  CloseHandle(info.hThread);
  const OwnedHandle process(info.hProcess);
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    std::printf("FAIL: %s did not end within %lu s\n", commandLine.c_str(), timeoutMs / 1000);
    TerminateProcess(process.get(), 1);
    return 1;
  }
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

}  // namespace

int RunScaleScenarios(const ScalePrograms& programs, int dpi, const std::string& workDir,
                      const std::string& screenshotDir) {
  // Two windows, each checked over all pages and status texts, take a few seconds.
  constexpr DWORD kLayoutCheckTimeoutMs = 120000;
  const std::string suffix = std::to_string(dpi) + ".bmp";
  int status = 0;
  status |= RunScaleScenario(programs.update, WindowKind::kUpdate, dpi, workDir,
                             screenshotDir + "\\update-" + suffix);
  status |= RunScaleScenario(programs.service, WindowKind::kService, dpi, workDir,
                             screenshotDir + "\\service-" + suffix);
  status |= RunConsoleProgram("\"" + programs.layoutCheck + "\" " + std::to_string(dpi),
                              kLayoutCheckTimeoutMs);
  return status == 0 ? 0 : 1;
}

int RunScaleScenario(const std::string& program, WindowKind kind, int dpi,
                     const std::string& workDir, const std::string& screenshot) {
  Failures failures;
  const ULONGLONG started = GetTickCount64();
  const std::filesystem::path folder(workDir);
  if (!MakeEmptyFolder(folder) || !WriteSmallFirmwareFile(folder / "Brevanto_RX1Pro.hex")) {
    failures.Check(false, "cannot write the firmware file in " + folder.string());
    return 1;
  }

  ProgramUnderTest sim(program, "model=Brevanto_RX1Pro", workDir);
  if (!sim.Started()) return 1;
  HWND window = sim.WaitForMainWindow(kMainCaption, kStartTimeoutMs, started);
  if (!window) return 1;
  failures.Check(sim.WaitUntil([&] { return LabelShown(window, kReadyText); }, kReadyTimeoutMs),
                 std::string("the panel does not show \"") + kReadyText + "\"");

  // The desktop tells the window its monitor's density only if the program declared itself aware
  // of it; otherwise it would be 96 and the layout unscaled.
  const DPI_AWARENESS awareness =
      GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(window));
  failures.Check(awareness == DPI_AWARENESS_PER_MONITOR_AWARE,
                 "the window is not aware of each monitor's scale (awareness " +
                     std::to_string(static_cast<int>(awareness)) + ")");
  const int windowDpi = static_cast<int>(GetDpiForWindow(window));
  failures.Check(windowDpi == dpi, "the window runs at " + std::to_string(windowDpi) +
                                       " dpi, expected " + std::to_string(dpi));

  // Scaled by edges, a size may round one pixel either way.
  const LayoutSize layout = ExpectedLayoutSize(kind, dpi);
  const int wantWidth = MulDiv(layout.width, dpi, 96);
  const int wantHeight = MulDiv(layout.height, dpi, 96);
  RECT rect{};
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  std::printf("window %d x %d at %d dpi (layout %d x %d)\n", width, height, dpi, layout.width,
              layout.height);
  failures.Check(std::abs(width - wantWidth) <= 1 && std::abs(height - wantHeight) <= 1,
                 "window size " + std::to_string(width) + " x " + std::to_string(height) +
                     ", expected " + std::to_string(wantWidth) + " x " +
                     std::to_string(wantHeight));

  return sim.Finish(window, screenshot, "scale", started, failures);
}

}  // namespace qv::uitest
