#include "tests/win32ui/EditorScenario.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "tests/win32ui/ProgramUnderTest.h"
#include "tests/win32ui/WindowSnapshot.h"
#include "tests/win32ui/WorkFiles.h"

namespace qv::uitest {
namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kDialogTimeoutMs = 15000;
constexpr DWORD kStepTimeoutMs = 15000;
constexpr WPARAM kBinFileTab = 5;

constexpr const char* kReadyText = "Load file ready";
constexpr const char* kInvalidText = "Load file is invalid for modify";

// Clicks "Current File" and answers the open dialog with the file's full path.
bool OpenThroughDialog(const ProgramUnderTest& sim, HWND window, const std::string& path,
                       Failures& failures) {
  HWND box = sim.ClickForOpenDialog(window, "Current File", kDialogTimeoutMs);
  if (!box) {
    failures.Check(false, "no open dialog within " + std::to_string(kDialogTimeoutMs / 1000) +
                              " s of clicking \"Current File\"");
    return false;
  }
  if (!AnswerOpenDialog(box, path)) {
    failures.Check(false, "the open dialog has no file name box");
    return false;
  }
  return true;
}

}  // namespace

int RunEditorScenario(const std::string& program, const std::string& workDir,
                      const std::string& screenshot) {
  Failures failures;
  const ULONGLONG started = GetTickCount64();
  const std::filesystem::path folder(workDir);
  std::string marked(8192, '\x3C');
  marked.replace(0x1234, 13, "QVUSB_Table01");
  const std::string plain(8192, '\x3C');
  const bool written = MakeEmptyFolder(folder) && WriteBytes(folder / "marked.bin", marked) &&
                       WriteBytes(folder / "plain.bin", plain);
  failures.Check(written, "cannot write the two files in " + folder.string());
  if (!written) return 1;

  ProgramUnderTest sim(program, "model=none", workDir);
  if (!sim.Started()) return 1;
  HWND window = sim.WaitForMainWindow(kMainCaption, kStartTimeoutMs, started);
  if (!window) return 1;
  ChooseTab(window, kBinFileTab);

  struct Step {
    const char* file;
    const char* expected;
    const char* other;
  };
  for (const Step& step : {Step{"marked.bin", kReadyText, kInvalidText},
                           Step{"plain.bin", kInvalidText, kReadyText}}) {
    const std::string path = (folder / step.file).string();
    if (!OpenThroughDialog(sim, window, path, failures)) break;
    const bool shown = sim.WaitUntil(
        [&] { return LabelShown(window, step.expected) && !LabelShown(window, step.other); },
        kStepTimeoutMs);
    failures.Check(shown,
                   std::string(step.file) + ": the page does not show \"" + step.expected + "\"");
    std::printf("%s: %s\n", step.file, shown ? step.expected : "(not as expected)");
  }
  // The marked file opened the group and "New File"; the plain one did not close them again.
  HWND newFile = ChildHandle(window, "New File", "Button");
  failures.Check(newFile && IsWindowEnabled(newFile), "\"New File\" is not enabled");

  return sim.Finish(window, screenshot, "editor", started, failures);
}

}  // namespace qv::uitest
