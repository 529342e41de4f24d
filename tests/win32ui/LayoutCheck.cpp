// Checks that the window's texts fit at the desktop's display scale:
//
//   qv_layout_check <dpi>
//
// Builds the update window and the service window in this process, as the window programs do,
// over a simulated Brevanto RX1 Pro whose firmware file lies in a work folder (the longest file
// line the panel shows), lets polling find both, and checks every text of the update panel and
// of each service page with TextFit: the Information page also with every status text, the panel
// also with the update's longest result line (Start, then Cancel in the warning box), its
// success line and the device line of a device another program holds. The shell is scripted (it
// answers the box) but tells the desktop's density. The desktop must give the process <dpi> pixels
// per inch (the test sets Wine's LogPixels) and this program must be aware of it, as its manifest
// says. Prints the fonts Wine gave for those asked for, each problem as a FAIL: line, and exits 1
// if any.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "flash/CoreState.h"
#include "sim/SimSetup.h"
#include "tests/win32ui/TextFit.h"
#include "tests/win32ui/WorkFiles.h"
#include "ui/ScriptedShell.h"
#include "ui/win32/Win32Window.h"

namespace qv::uitest {
namespace {

constexpr const char* kModel = "Brevanto_RX1Pro";
// Polling probes one model-table row per tick; the file is read on the tick that finds it.
constexpr int kReadyTicks = 40;

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi;
}

// The update's result line after Start: Cancel in the warning box (the longest line), then OK
// and the whole update on the simulated device.
void CheckResultLines(TForm1& form, ui::ScriptedShell& shell, HWND hwnd, const std::string& name,
                      TextFitReport& report) {
  for (const int answer : {kIdCancel, kIdOk}) {
    shell.boxAnswers.push_back(answer);
    form.Dispatcher().Click(*form.btnSimpleAuto);
    PumpMessages();
    const std::string line = form.lblISPProcStatus->Caption();
    std::printf("%s: the result line \"%s\"\n", name.c_str(), line.c_str());
    CheckTextFit(hwnd, name + ", after Start: \"" + line + "\"", report);
  }
}

// One window program's window, found device and file included, checked page by page.
void CheckWindow(bool service, const std::filesystem::path& work, TextFitReport& report,
                 std::vector<std::string>& failures) {
  const sim::SimSetupResult parsed = sim::ParseSimSetup(std::string("model=") + kModel);
  sim::Simulation simulation(*parsed.setup);
  AppState app;
  app.ServiceMode = service;
  CoreState core(simulation.Bus(), simulation.Bus(), simulation.Clock());
  ui::ScriptedShell shell;
  shell.pixelsPerInch = SystemDpi();
  shell.currentDirectory = work;
  TForm1 form(app, core, shell);
  form.Create();
  ui::Win32Window window(form, form.Dispatcher());
  const auto hwnd = static_cast<HWND>(window.Handle());
  if (!hwnd) {
    failures.push_back("the window could not be created");
    return;
  }
  window.Show();
  const char* name = service ? "service window" : "update window";
  for (int tick = 0; tick < kReadyTicks && !EndsWith(form.lblUpdaeFileStatus->Caption(), "Ready!");
       ++tick) {
    form.Dispatcher().Tick(*form.Timer1);
  }
  if (!EndsWith(form.lblUpdaeFileStatus->Caption(), "Ready!")) {
    failures.push_back(std::string(name) + ": the firmware file was not found: \"" +
                       form.lblUpdaeFileStatus->Caption() + "\"");
  }
  PumpMessages();

  // The device line naming another program that holds the device: the longest of the tool's own
  // program names, with a process id of seven digits.
  const std::string found = form.lblDetectDevice->Caption();
  form.lblDetectDevice->SetCaption("In use by qvservice-sim (process 9999999)");
  PumpMessages();
  CheckTextFit(hwnd, std::string(name) + ", a device in use", report);
  form.lblDetectDevice->SetCaption(found);
  PumpMessages();

  // The panel's file line when a close is refused during the update.
  const std::string file = form.lblUpdaeFileStatus->Caption();
  app.UpdateBusy = 1;
  form.Close();
  app.UpdateBusy = 0;
  PumpMessages();
  CheckTextFit(hwnd, std::string(name) + ", a close refused", report);
  form.lblUpdaeFileStatus->SetCaption(file);
  PumpMessages();

  if (!service) {
    CheckTextFit(hwnd, name, report);
    CheckResultLines(form, shell, hwnd, name, report);
    return;
  }
  for (ui::TabSheet* page : form.MainPageControl->Pages()) {
    form.Dispatcher().SelectPage(*form.MainPageControl, *page);
    PumpMessages();
    CheckTextFit(hwnd, std::string(name) + ", page \"" + page->Caption() + "\"", report);
  }
  // The Information page with each text its Update can show: every rate, connected or not,
  // playing or muted, PCM or DSD.
  const InformationTexts& texts = app.Texts;
  form.Dispatcher().SelectPage(*form.MainPageControl, *form.Information);
  for (std::size_t i = 0; i < texts.RateTexts.size(); ++i) {
    form.lblCurrentFreq1->SetCaption(texts.RateTexts[i]);
    form.lblConnect->SetCaption(i % 2 ? texts.UsbDisconnected : texts.UsbConnected);
    form.lblMute->SetCaption(i % 2 ? texts.Playing : texts.Mute);
    form.lblCurrentFormat1->SetCaption(i < 16 ? texts.Pcm : texts.Dsd);
    PumpMessages();
    CheckTextFit(hwnd, std::string(name) + ", page \"Information\" after Update", report);
  }
  CheckResultLines(form, shell, hwnd, name, report);
}

}  // namespace
}  // namespace qv::uitest

int main(int argc, char** argv) {
  using namespace qv::uitest;
  if (argc != 2) {
    std::printf("usage: qv_layout_check <dpi>\n");
    return 2;
  }
  const int expected = std::atoi(argv[1]);
  std::vector<std::string> failures;
  const int dpi = SystemDpi();
  if (dpi != expected) {
    failures.push_back("the desktop gives " + std::to_string(dpi) + " pixels per inch, expected " +
                       std::to_string(expected));
  }
  if (GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()) !=
      DPI_AWARENESS_PER_MONITOR_AWARE) {
    failures.push_back(
        "the program is not aware of each monitor's scale: its manifest was not read");
  }

  std::error_code error;
  const std::filesystem::path work = std::filesystem::temp_directory_path(error) /
                                     ("qv-layout-check-" + std::to_string(GetCurrentProcessId()));
  if (error || !MakeEmptyFolder(work) ||
      !WriteSmallFirmwareFile(work / (std::string(kModel) + ".hex"))) {
    std::printf("FAIL: cannot prepare the work folder %s\n", work.string().c_str());
    return 1;
  }

  TextFitReport report;
  for (const bool service : {false, true}) CheckWindow(service, work, report, failures);
  std::filesystem::remove_all(work, error);

  std::printf(
      "at %d dpi, %d texts checked (a text seen on several pages counts each time); fonts asked "
      "for and given:\n",
      dpi, report.texts);
  for (const auto& [requested, obtained] : report.fonts)
    std::printf("  %s -> %s\n", requested.c_str(), obtained.c_str());
  for (const auto& [problem, where] : report.problems) failures.push_back(where + ": " + problem);
  for (const std::string& failure : failures) std::printf("FAIL: %s\n", failure.c_str());
  std::printf("layout check %s\n", failures.empty() ? "passed" : "FAILED");
  return failures.empty() ? 0 : 1;
}
