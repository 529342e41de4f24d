#include "tests/win32ui/UpdateScenario.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <vector>

#include "platform/DeviceOwner.h"
#include "sim/SimSetup.h"
#include "tests/support/TestFirmware.h"
#include "tests/win32driver/LoopbackDevices.h"
#include "tests/win32ui/KeyInput.h"
#include "tests/win32ui/ProgramUnderTest.h"
#include "tests/win32ui/WindowSnapshot.h"
#include "tests/win32ui/WorkFiles.h"

namespace qv::uitest {
namespace {

// Short of a whole number of pages, so the last page is partly image and partly padding.
constexpr std::size_t kImageSize = 32 * 1024 - 8;
constexpr std::uintmax_t kFlashSize = 512 * 1024;

constexpr DWORD kStartTimeoutMs = 30000;
// Polling ticks once a second and walks the model table; the first model is found on an early
// tick, the file on the same one.
constexpr DWORD kReadyTimeoutMs = 30000;
constexpr DWORD kWarningTimeoutMs = 15000;
// A failed update makes three attempts with a pause after each; both outcomes end well within.
constexpr DWORD kFinishTimeoutMs = 90000;
constexpr DWORD kExitTimeoutMs = 15000;
// qvtool.exe refused at once: its start under Wine takes the most of it.
constexpr DWORD kSecondProgramTimeoutMs = 30000;

constexpr const char* kFoundText = "Find Device Brevanto RX1";
constexpr const char* kFileReadyText = "Firmware Update file   Brevanto_RX1.hex    is Ready!";
constexpr const char* kWarningText =
    "Firmware Update is a critical operation. Please make sure the power stays on and do not "
    "disconnect the device before the update is complete. Would you like to proceed?";
constexpr const char* kSuccessText = "Firmware update success!";
constexpr const char* kCloseRefusedText = "Close refused during the firmware update";
// Each request of the paced device takes a millisecond: the update lasts seconds, time enough to
// reach another page while it runs.
constexpr const char* kPacedSetup = ";real-time=1;latency-us=1000";
// Slower still where qvtool.exe must start under Wine, on a loaded machine, while the update runs:
// about 15 s.
constexpr const char* kSlowPacedSetup = ";real-time=1;latency-us=3000";
constexpr DWORD kRunningTimeoutMs = 15000;
constexpr DWORD kLoadDialogTimeoutMs = 3000;
constexpr WPARAM kBinFileTab = 5;
constexpr const char* kFailText = "Firmware update Fail!";
// How long the window is watched showing a device another program holds: its ticks come once a
// second, and each must leave it so.
constexpr DWORD kHeldMs = 2500;
constexpr DWORD kQueryEndSessionTimeoutMs = 10000;
// Tab stops of the update panel at most, and how long a key takes to move the focus.
constexpr int kMostTabStops = 20;
constexpr DWORD kKeyTimeoutMs = 3000;
// Waited where a key must leave the focus where it is.
constexpr DWORD kSettleKeyMs = 500;
// Past the erase and its polls, inside the blank check or the programming.
constexpr const char* kUnplugSetup = ";fail-after=1500";

bool PrepareWorkFolder(const std::filesystem::path& folder, std::span<const std::uint8_t> image,
                       Failures& failures) {
  if (!MakeEmptyFolder(folder)) {
    failures.Check(false, "cannot create the work folder " + folder.string());
    return false;
  }
  const bool written = WriteHexFile(folder / "Brevanto_RX1.hex", image);
  failures.Check(written, "cannot write Brevanto_RX1.hex in " + folder.string());
  return written;
}

bool Shown(const std::vector<ChildWindow>& children, const char* text, const char* windowClass) {
  const ChildWindow* child = FindChild(children, text, windowClass);
  return child && child->visible;
}

// For a mismatch: what the panel showed instead.
void PrintPanel(HWND window) {
  std::printf("  the window shows:\n");
  for (const ChildWindow& child : ChildWindows(window)) {
    if (!child.visible || child.text.empty()) continue;
    std::printf("    %s \"%s\"%s\n", child.windowClass.c_str(), child.text.c_str(),
                child.enabled ? "" : " (disabled)");
  }
}

bool IsReady(HWND window) {
  const std::vector<ChildWindow> children = ChildWindows(window);
  const ChildWindow* start = FindChild(children, "Start", "Button");
  return Shown(children, kFoundText, "Static") && Shown(children, kFileReadyText, "Static") &&
         start && start->visible && start->enabled;
}

// Checks the question and answers it (OK or Cancel), as a user's click on the button would.
void AnswerWarning(const ProgramUnderTest& sim, Failures& failures, int answer = IDOK) {
  HWND box = sim.WaitForWindow("#32770", "Warning", kWarningTimeoutMs);
  if (!box) {
    failures.Check(false, "no \"Warning\" box within " + std::to_string(kWarningTimeoutMs / 1000) +
                              " s of clicking Start (program " + sim.State() + ")");
    return;
  }
  const std::vector<ChildWindow> children = ChildWindows(box);
  failures.Check(FindChild(children, kWarningText, "Static") != nullptr,
                 "the \"Warning\" box does not ask the update question");
  HWND button = GetDlgItem(box, answer);
  failures.Check(GetDlgItem(box, IDOK) && GetDlgItem(box, IDCANCEL),
                 "the \"Warning\" box lacks OK or Cancel");
  if (button) {
    PostMessageA(button, BM_CLICK, 0, 0);
  } else {
    PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
  }
}

// Tab from wherever the focus is, until it comes round again: every control it stops on must be
// in sight and enabled, and Start among them; Shift+Tab from Start goes back to the one before.
// Leaves the focus on Start; false when Tab never reached it.
bool TabToStart(HWND window, HWND start, Failures& failures) {
  std::vector<HWND> walk;
  HWND focus = FocusIn(window);
  for (int presses = 0; presses < kMostTabStops; ++presses) {
    focus = PressAndWaitForFocusMove(window, Keys{.key = VK_TAB}, focus, kKeyTimeoutMs);
    if (!walk.empty() && focus == walk.front()) break;
    walk.push_back(focus);
  }
  std::string names;
  for (HWND stop : walk) {
    const std::string text = stop ? WindowText(stop) : "(none)";
    names += " \"" + text + "\"";
    failures.Check(stop && IsWindowVisible(stop) && IsWindowEnabled(stop),
                   "Tab stopped on \"" + text + "\", which is hidden or disabled");
  }
  std::printf("Tab walks the panel:%s\n", names.c_str());
  const auto at = std::find(walk.begin(), walk.end(), start);
  if (at == walk.end()) {
    failures.Check(false, "Tab never reached Start");
    return false;
  }
  while (FocusIn(window) != start) {
    PressAndWaitForFocusMove(window, Keys{.key = VK_TAB}, FocusIn(window), kKeyTimeoutMs);
  }
  HWND before = at == walk.begin() ? walk.back() : *(at - 1);
  HWND back = PressAndWaitForFocusMove(window, Keys{.key = VK_TAB, .shift = true}, start,
                                       walk.size() > 1 ? kKeyTimeoutMs : kSettleKeyMs);
  failures.Check(back == before, "Shift+Tab from Start did not go back to the control before it");
  PressAndWaitForFocusMove(window, Keys{.key = VK_TAB}, back, kKeyTimeoutMs);
  return FocusIn(window) == start;
}

// Enter on the focused Start asks the question; Cancel leaves the update unstarted with Start
// as it was. Enter again (the focus back on Start) asks again, answered OK here.
void StartByKeyboard(const ProgramUnderTest& sim, HWND window, HWND start, Failures& failures) {
  if (!TabToStart(window, start, failures)) return;
  PressKey(window, Keys{.key = VK_RETURN});
  AnswerWarning(sim, failures, IDCANCEL);
  sim.WaitUntil([&] { return !FindProcessWindow(sim.Id(), "#32770", "Warning"); },
                kWarningTimeoutMs);
  Sleep(kSettleKeyMs);
  failures.Check(IsReady(window) && !ChildHandle(window, "Stop", "Button"),
                 "Cancel in the question Enter asked did not leave the update unstarted");
  if (FocusIn(window) != start && !TabToStart(window, start, failures)) return;
  PressKey(window, Keys{.key = VK_RETURN});
  AnswerWarning(sim, failures);
}

// "Gen. Bin File", "Current File" and another firmware file while the update runs. The window
// may refuse the load (no dialog comes) or take it into the editor; it must not reach the flash.
void LoadAnotherFileMeanwhile(const ProgramUnderTest& sim, HWND window,
                              const std::filesystem::path& folder, Failures& failures) {
  const bool running = sim.WaitUntil(
      [&] { return ChildHandle(window, "Stop", "Button") != nullptr; }, kRunningTimeoutMs);
  if (!running) {
    failures.Check(false, "the update did not start running");
    return;
  }
  std::vector<std::uint8_t> other = test::TestImage(kImageSize);
  for (auto& byte : other) byte = static_cast<std::uint8_t>(~byte);
  const std::filesystem::path otherFile = folder / "other.hex";
  if (!WriteHexFile(otherFile, other)) {
    failures.Check(false, "cannot write " + otherFile.string());
    return;
  }
  ChooseTab(window, kBinFileTab);
  if (HWND dialog = sim.ClickForOpenDialog(window, "Current File", kLoadDialogTimeoutMs)) {
    failures.Check(AnswerOpenDialog(dialog, otherFile.string()),
                   "the open dialog has no file name box");
    std::printf("\"Current File\" took other.hex while the update ran\n");
  } else {
    std::printf("\"Current File\" refused while the update runs\n");
  }
}

// The window's answer to the system's question whether the session may end (logoff): true
// when it may. A window that does not answer in time fails the check.
bool SessionMayEnd(HWND window, Failures& failures) {
  DWORD_PTR answer = 0;
  const LRESULT delivered =
      SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                          kQueryEndSessionTimeoutMs, &answer);
  failures.Check(delivered != 0, "the window did not answer WM_QUERYENDSESSION within " +
                                     std::to_string(kQueryEndSessionTimeoutMs / 1000) + " s");
  return answer != 0;
}

// The driver holds the device as another program would: the window must show it in use, naming
// the driver, keep Start disabled and announce no file, tick after tick; let the session end,
// as nothing runs; and go on once the driver lets go.
void ShowsInUseUntilReleased(const ProgramUnderTest& sim, HWND window, ClaimResult& held,
                             Failures& failures) {
  const std::string inUse =
      "In use by qv_ui_driver (process " + std::to_string(GetCurrentProcessId()) + ")";
  const auto showsInUse = [&] {
    const std::vector<ChildWindow> children = ChildWindows(window);
    const ChildWindow* start = FindChild(children, "Start", "Button");
    return Shown(children, inUse.c_str(), "Static") &&
           Shown(children, "No Updated File !", "Static") && start && !start->enabled;
  };
  if (!sim.WaitUntil(showsInUse, kReadyTimeoutMs)) {
    failures.Check(false, "the window does not show \"" + inUse +
                              "\" with Start disabled and no file announced");
    PrintPanel(window);
    return;
  }
  std::printf("the window shows \"%s\"\n", inUse.c_str());
  Sleep(kHeldMs);
  failures.Check(showsInUse(), "a later tick took the device another program holds");
  failures.Check(SessionMayEnd(window, failures), "the idle window refused the session's end");
  held.claim.Release();
}

// Asked while the paced update runs, the window refuses the session's end.
void AskSessionEndMeanwhile(const ProgramUnderTest& sim, HWND window, Failures& failures) {
  const bool running = sim.WaitUntil(
      [&] { return ChildHandle(window, "Stop", "Button") != nullptr; }, kRunningTimeoutMs);
  if (!running) {
    failures.Check(false, "the update did not start running");
    return;
  }
  const bool mayEnd = SessionMayEnd(window, failures);
  failures.Check(!mayEnd, "the window let the session end while the update ran");
  std::printf("WM_QUERYENDSESSION during the update: %s\n", mayEnd ? "may end" : "refused");
}

// While the window updates the device, qvtool.exe is started on the same device, as a service
// engineer might: it must be refused before it sends anything, exit 4 and name the window's
// program and process. Had it gone on, the flash would not end with the model's file.
void SecondProgramRefusedMeanwhile(const ProgramUnderTest& sim, HWND window,
                                   const std::string& qvtool, const std::string& setup,
                                   const std::filesystem::path& folder, Failures& failures) {
  if (!sim.WaitUntil([&] { return ChildHandle(window, "Stop", "Button") != nullptr; },
                     kRunningTimeoutMs)) {
    failures.Check(false, "the update did not start running");
    return;
  }
  const std::filesystem::path output = folder / "qvtool.txt";
  SECURITY_ATTRIBUTES inherit{.nLength = sizeof(SECURITY_ATTRIBUTES),
                              .lpSecurityDescriptor = nullptr,
                              .bInheritHandle = TRUE};
  HANDLE file = CreateFileA(output.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    failures.Check(false, "cannot create " + output.string());
    return;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = file;
  startup.hStdError = file;
  std::string command =
      "\"" + qvtool + "\" \"--simulate=" + setup + "\" update --yes Brevanto_RX1.hex";
  const std::string folderText = folder.string();
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      folderText.c_str(), &startup, &process);
  CloseHandle(file);
  if (!started) {
    failures.Check(false, "cannot start " + qvtool);
    return;
  }
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process.hProcess, kSecondProgramTimeoutMs) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &code);
  else
    TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::ifstream in(output, std::ios::binary);
  const std::string said{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::printf("qvtool.exe on the window's device: exit %lu, %s", code, said.c_str());
  failures.Check(code == 4, "qvtool.exe on the window's device exited " + std::to_string(code) +
                                ", expected 4 (in use)");
  const std::string holder = "(process " + std::to_string(sim.Id()) + ")";
  failures.Check(said.find("in use by qvupdate-sim") != std::string::npos &&
                     said.find(holder) != std::string::npos,
                 "qvtool.exe does not name the window's program and process " + holder);
  failures.Check(said.find("Enter ISP Mode") == std::string::npos,
                 "qvtool.exe sent requests to a device the window holds");
}

// Closed as its close box would while the update runs, the window stays and says why.
void CloseRefusedMeanwhile(const ProgramUnderTest& sim, HWND window, Failures& failures) {
  PostMessageA(window, WM_CLOSE, 0, 0);
  const bool said = sim.WaitUntil(
      [&] { return Shown(ChildWindows(window), kCloseRefusedText, "Static"); }, kRunningTimeoutMs);
  failures.Check(said && IsWindow(window),
                 std::string("a close during the update did not leave the window showing \"") +
                     kCloseRefusedText + "\"");
  std::printf("WM_CLOSE during the update: %s\n", said ? "refused" : "not refused");
}

// Waits for the end of the update: Start has become a disabled "Finish" and one of the final
// texts is shown. Reports each new caption of the button on the way.
bool WaitForFinish(const ProgramUnderTest& sim, HWND window, Failures& failures) {
  std::string caption = "Start";
  const ULONGLONG clicked = GetTickCount64();
  const bool finished = sim.WaitUntil(
      [&] {
        const std::vector<ChildWindow> children = ChildWindows(window);
        for (const char* shown : {"Stop", "Finish"}) {
          if (caption != shown && FindChild(children, shown, "Button")) {
            caption = shown;
            std::printf("Start button shows \"%s\" after %llu ms\n", shown,
                        GetTickCount64() - clicked);
          }
        }
        const ChildWindow* finish = FindChild(children, "Finish", "Button");
        return finish && !finish->enabled &&
               (Shown(children, kSuccessText, "Static") || Shown(children, kFailText, "Static"));
      },
      kFinishTimeoutMs);
  if (!finished) {
    failures.Check(false, "the update did not finish within " +
                              std::to_string(kFinishTimeoutMs / 1000) + " s (program " +
                              sim.State() + ")");
    PrintPanel(window);
  }
  return finished;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first address from `from` on where the flash differs from what it should hold.
std::size_t FirstMismatch(const std::vector<std::uint8_t>& flash,
                          std::span<const std::uint8_t> expectedStart, std::size_t from) {
  for (std::size_t a = from; a < flash.size(); ++a) {
    const std::uint8_t expected = a < expectedStart.size() ? expectedStart[a] : 0xFF;
    if (flash[a] != expected) return a;
  }
  return flash.size();
}

// After a successful update the flash holds the image and nothing else: the chip erase cleared
// the older firmware behind it. After a failed one the erase happened and nothing was written.
void CheckFlash(const std::filesystem::path& file, std::span<const std::uint8_t> image,
                UpdateOutcome expected, Failures& failures) {
  const std::vector<std::uint8_t> flash = ReadFile(file);
  if (flash.size() != kFlashSize) {
    failures.Check(false, "the flash file " + file.string() + " holds " +
                              std::to_string(flash.size()) + " bytes, expected " +
                              std::to_string(kFlashSize));
    return;
  }
  const std::span<const std::uint8_t> wanted =
      expected == UpdateOutcome::kSuccess ? image : std::span<const std::uint8_t>();
  const std::size_t at = FirstMismatch(flash, wanted, 0);
  if (at == flash.size()) {
    std::printf("flash file: %s\n", expected == UpdateOutcome::kSuccess
                                        ? "the image, then erased bytes to the end"
                                        : "erased throughout");
    return;
  }
  char where[128];
  std::snprintf(where, sizeof(where), "0x%06zX holds 0x%02X, expected 0x%02X", at, flash[at],
                at < wanted.size() ? wanted[at] : 0xFF);
  failures.Check(false, std::string("flash file: the first difference at ") + where +
                            (at < image.size() ? " (inside the image)" : " (behind the image)"));
}

// What the window shows at the end: every text in sight, with its control's class.
std::vector<std::string> ShownTexts(HWND window) {
  std::vector<std::string> texts;
  for (const ChildWindow& child : ChildWindows(window))
    if (child.visible && !child.text.empty())
      texts.push_back(child.windowClass + " \"" + child.text + "\"");
  return texts;
}

// A capture asked for that cannot be opened (its folder is missing): a message box naming the
// file, no window, and status 2, so that nobody believes a capture is made.
void RefusesACaptureItCannotOpen(const std::string& program, const std::string& setup,
                                 const std::filesystem::path& folder, Failures& failures) {
  const std::string capture = (folder / "missing" / "update.jsonl").string();
  ProgramUnderTest refused(program, setup, folder.string(), capture);
  if (!refused.Started()) return;
  const std::string name = std::filesystem::path(program).stem().string();
  HWND box = refused.WaitForWindow("#32770", name.c_str(), kStartTimeoutMs);
  bool named = false;
  if (box) {
    for (const ChildWindow& child : ChildWindows(box))
      named = named || (child.text.starts_with("QV_CAPTURE: ") &&
                        child.text.find(capture) != std::string::npos);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  failures.Check(named, "no message box naming the capture " + capture + " that cannot be opened");
  refused.WaitUntil([&] { return refused.State() != "running"; }, kExitTimeoutMs);
  failures.Check(refused.State() == "ended with code 2",
                 "with a capture it cannot open the program " + refused.State() +
                     ", expected to end with code 2");
  failures.Check(!FindProcessWindow(refused.Id(), nullptr, kMainCaption),
                 "the window showed with a capture that cannot be opened");
  std::printf("a capture that cannot be opened: refused (%s)\n", refused.State().c_str());
}

// The real program's capture: its first line names the ports it went through and requests follow.
void CheckCapture(const std::filesystem::path& file, Failures& failures) {
  std::ifstream in(file, std::ios::binary);
  std::string first;
  std::getline(in, first);
  int requests = 0;
  for (std::string line; std::getline(in, line);)
    requests += line.find("\"event\":\"request\"") != std::string::npos;
  failures.Check(first.find("\"platform\":\"windows\",\"port\":\"setupapi\"") != std::string::npos,
                 "the capture's first line does not name the SetupAPI ports: " + first);
  failures.Check(requests > 0, "the capture holds no request");
  std::printf("capture: %d requests\n", requests);
}

// The update again, in a second run of the program in the same folder, its devices answering
// from the first run's capture: it must end with the texts the captured run ended with.
void ReplayCapture(const std::string& program, const std::filesystem::path& folder,
                   const std::vector<std::string>& captured, Failures& failures) {
  const ULONGLONG started = GetTickCount64();
  const std::string setup = "replay=" + (folder / "update.jsonl").string();
  std::printf("QV_SIM=%s\n", setup.c_str());
  ProgramUnderTest replay(program, setup, folder.string());
  if (!replay.Started()) return;
  HWND window = replay.WaitForMainWindow(kMainCaption, kStartTimeoutMs, started);
  if (!window || !replay.WaitUntil([&] { return IsReady(window); }, kReadyTimeoutMs)) {
    failures.Check(false,
                   "the replay did not become ready to update (program " + replay.State() + ")");
    if (window) PrintPanel(window);
    return;
  }
  PostMessageA(ChildHandle(window, "Start", "Button"), BM_CLICK, 0, 0);
  AnswerWarning(replay, failures);
  if (failures.count == 0 && WaitForFinish(replay, window, failures)) {
    const std::vector<std::string> shown = ShownTexts(window);
    if (shown != captured) {
      failures.Check(false, "the replay ends with other texts than the captured update");
      for (const auto& [run, texts] :
           {std::pair{"captured", &captured}, std::pair{"replay", &shown}})
        for (const std::string& text : *texts) std::printf("  %s: %s\n", run, text.c_str());
    }
  }
  replay.CloseAndCheckExit(window, kExitTimeoutMs, failures);
  std::printf("replay of the capture %s (%zu texts, %llu ms)\n",
              failures.count == 0 ? "ends with the same texts" : "FAILED", captured.size(),
              GetTickCount64() - started);
}

}  // namespace

int RunUpdateScenario(const std::string& program, const std::string& workDir,
                      const std::string& screenshot, UpdateOutcome expected,
                      UpdateDisturbance disturbance, UpdateDevice device, UpdateCapture capture,
                      const std::string& qvtool) {
  Failures failures;
  const ULONGLONG started = GetTickCount64();
  const std::filesystem::path folder(workDir);
  const std::vector<std::uint8_t> image = test::TestImage(kImageSize);
  if (!PrepareWorkFolder(folder, image, failures)) return 1;
  const std::string flashFile = (folder / "flash.bin").string();
  if (flashFile.find(';') != std::string::npos) {
    failures.Check(false, "the work folder's path holds ';', which QV_SIM cannot carry");
    return 1;
  }
  std::string setup = "model=Brevanto_RX1;flash-file=" + flashFile;
  if (expected == UpdateOutcome::kFailure) setup += ";flip-reads=1";
  if (expected == UpdateOutcome::kUnplugged) setup += kUnplugSetup;
  if (disturbance == UpdateDisturbance::kEditorLoad) setup += kPacedSetup;
  if (disturbance == UpdateDisturbance::kOtherOwner) setup += kSlowPacedSetup;
  // Taken before the program starts, so that it never finds the device free.
  ClaimResult held;
  if (disturbance == UpdateDisturbance::kOtherOwner) {
    held = ClaimDevice(sim::FlashFileClaimKey(flashFile), "qv_ui_driver");
    if (!held.claim.Held()) {
      failures.Check(false, "the driver could not claim the device: " +
                                (held.inUse ? DescribeHolder(held.holder) : held.error));
      return 1;
    }
  }
  std::unique_ptr<test::LoopbackDevices> devices;
  if (device == UpdateDevice::kLoopbackDriver) {
    std::printf("loopback devices: %s\n", setup.c_str());
    try {
      devices = std::make_unique<test::LoopbackDevices>(QV_LOOPBACK_INF, setup);
    } catch (const std::exception& e) {
      failures.Check(false, std::string("no loopback device: ") + e.what());
      return 1;
    }
    std::printf("device installed after %llu ms: %s\n", GetTickCount64() - started,
                devices->InterfacePath(0).c_str());
  } else {
    std::printf("QV_SIM=%s\n", setup.c_str());
  }

  if (capture == UpdateCapture::kCapturedAndReplayed)
    RefusesACaptureItCannotOpen(program, setup, folder, failures);
  const std::filesystem::path captureFile = folder / "update.jsonl";
  ProgramUnderTest sim(program, setup, workDir,
                       capture == UpdateCapture::kNone ? std::string() : captureFile.string());
  if (!sim.Started()) return 1;
  HWND window = sim.WaitForMainWindow(kMainCaption, kStartTimeoutMs, started);
  if (!window) return 1;
  if (held.claim.Held()) {
    ShowsInUseUntilReleased(sim, window, held, failures);
    if (failures.count != 0) return 1;
  }

  if (!sim.WaitUntil([&] { return IsReady(window); }, kReadyTimeoutMs)) {
    failures.Check(false, std::string("not ready within ") +
                              std::to_string(kReadyTimeoutMs / 1000) + " s: expected \"" +
                              kFoundText + "\", \"" + kFileReadyText + "\" and Start enabled");
    PrintPanel(window);
    return 1;
  }
  std::printf("device and file ready after %llu ms\n", GetTickCount64() - started);

  const std::vector<ChildWindow> children = ChildWindows(window);
  const ChildWindow* start = FindChild(children, "Start", "Button");
  if (!start) {
    failures.Check(false, "the Start button went away before it could be clicked");
    return 1;
  }
  if (disturbance == UpdateDisturbance::kKeyboard) {
    StartByKeyboard(sim, window, start->hwnd, failures);
  } else {
    // Posted, not sent: the click runs the whole update inside the program's handler.
    PostMessageA(start->hwnd, BM_CLICK, 0, 0);
    AnswerWarning(sim, failures);
  }
  if (failures.count != 0) return 1;
  const ULONGLONG confirmed = GetTickCount64();
  if (disturbance == UpdateDisturbance::kEditorLoad)
    LoadAnotherFileMeanwhile(sim, window, folder, failures);
  if (disturbance == UpdateDisturbance::kOtherOwner) {
    AskSessionEndMeanwhile(sim, window, failures);
    CloseRefusedMeanwhile(sim, window, failures);
    if (!qvtool.empty())
      SecondProgramRefusedMeanwhile(sim, window, qvtool, setup, folder, failures);
  }

  std::vector<std::string> finalTexts;
  if (WaitForFinish(sim, window, failures)) {
    std::printf("update ended after %llu ms\n", GetTickCount64() - confirmed);
    finalTexts = ShownTexts(window);
    const std::vector<ChildWindow> shown = ChildWindows(window);
    const bool success = expected == UpdateOutcome::kSuccess;
    if (devices && expected == UpdateOutcome::kUnplugged)
      failures.Check(!devices->Plugged(0), "the device did not leave during the update");
    const char* wanted = success ? kSuccessText : kFailText;
    const char* unwanted = success ? kFailText : kSuccessText;
    failures.Check(
        Shown(shown, wanted, "Static") && !Shown(shown, unwanted, "Static"),
        std::string("the update ended with \"") + unwanted + "\", expected \"" + wanted + "\"");
    failures.Check(!FindProcessWindow(sim.Id(), "#32770", "Warning"),
                   "the \"Warning\" box is still open");
    if (disturbance == UpdateDisturbance::kOtherOwner)
      failures.Check(SessionMayEnd(window, failures),
                     "the window still refuses the session's end after the update");
  }
  if (SaveWindowBitmap(window, screenshot)) {
    std::printf("screenshot: %s\n", screenshot.c_str());
  } else {
    failures.Check(false, "could not save the screenshot " + screenshot);
  }
  sim.CloseAndCheckExit(window, kExitTimeoutMs, failures);
  // A device that left in the middle holds what it had been sent so far: the texts tell.
  if (expected != UpdateOutcome::kUnplugged)
    CheckFlash(folder / "flash.bin", image, expected, failures);
  if (capture == UpdateCapture::kCaptured) CheckCapture(captureFile, failures);
  if (capture == UpdateCapture::kCapturedAndReplayed && failures.count == 0)
    ReplayCapture(program, folder, finalTexts, failures);

  std::printf("%s (%llu ms)\n", failures.count == 0 ? "update test passed" : "update test FAILED",
              GetTickCount64() - started);
  return failures.count == 0 ? 0 : 1;
}

}  // namespace qv::uitest
