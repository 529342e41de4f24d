#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "tests/win32ui/WindowSnapshot.h"

// The window program as the driver starts, watches and ends it.

namespace qv::uitest {

// The main window's caption.
inline constexpr const char* kMainCaption = "Brevanto firmware update Tool V1.9";

// Counts the mismatches of one run and prints each as a FAIL: line.
struct Failures {
  int count = 0;
  void Check(bool ok, const std::string& what);
};

// Paths from the build arrive as Unix paths; Wine sees the Unix root as drive Z:.
std::string WindowsPath(std::string path);

// Without a window manager (Xvfb) no one draws window frames, so for the program under test
// Wine is told to draw them itself, as on a desktop; the setting is removed again on the way out
// so that a person's run of the program keeps their window manager's frame.
class UnmanagedFrameSetting {
 public:
  // For the program of that path (the setting is kept by the program's file name).
  explicit UnmanagedFrameSetting(const std::string& program);
  UnmanagedFrameSetting(const UnmanagedFrameSetting&) = delete;
  UnmanagedFrameSetting& operator=(const UnmanagedFrameSetting&) = delete;
  ~UnmanagedFrameSetting();

 private:
  HKEY key_ = nullptr;
};

// Types the path into an open dialog's file name box and confirms it; false when the dialog has
// no such box.
bool AnswerOpenDialog(HWND dialog, const std::string& path);

class ProgramUnderTest {
 public:
  // Starts the program with QV_SIM set to simSetup (the simulated twins' devices; the real
  // programs do not read it), in workDir (empty: the driver's own), capturing into the file
  // QV_CAPTURE names (empty: none).
  ProgramUnderTest(const std::string& program, const std::string& simSetup,
                   const std::string& workDir = {}, const std::string& capture = {});
  ProgramUnderTest(const ProgramUnderTest&) = delete;
  ProgramUnderTest& operator=(const ProgramUnderTest&) = delete;
  // A program still running at the end of a failed check is ended, so no test leaves one behind.
  ~ProgramUnderTest();

  bool Started() const { return process_ != nullptr; }
  DWORD Id() const { return id_; }
  // "running", or how it ended.
  std::string State() const;

  // Polls every 100 ms until the condition holds. False when the timeout passes or the program
  // ends first.
  bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) const;
  // A visible top-level window of the program; null after the timeout or the program's end.
  HWND WaitForWindow(const char* windowClass, const char* caption, DWORD timeoutMs) const;
  // The program's main window by its caption; prints a FAIL line when it does not come, and how
  // long it took when it does (counted from `started`, a GetTickCount64 value).
  HWND WaitForMainWindow(const char* caption, DWORD timeoutMs, ULONGLONG started) const;
  // Clicks the window's button of that caption and waits for the common open dialog it shows;
  // null when none comes within the timeout.
  HWND ClickForOpenDialog(HWND window, const char* button, DWORD timeoutMs) const;
  // Closes the window as its close box would and checks that the program ends with code 0.
  void CloseAndCheckExit(HWND window, DWORD timeoutMs, Failures& failures);
  // The end of a scenario: the screenshot, closing the window, and the verdict line ("<name>
  // test passed" or "FAILED" with the time since `started`). Returns the exit code.
  int Finish(HWND window, const std::string& screenshot, const char* name, ULONGLONG started,
             Failures& failures);

 private:
  UnmanagedFrameSetting frames_;
  OwnedHandle process_;
  DWORD id_ = 0;
};

}  // namespace qv::uitest
