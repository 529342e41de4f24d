#include "tests/win32ui/ProgramUnderTest.h"

#include <cstdio>

namespace qv::uitest {
namespace {

constexpr DWORD kPollMs = 100;

}  // namespace

void Failures::Check(bool ok, const std::string& what) {
  if (ok) return;
  ++count;
  std::printf("FAIL: %s\n", what.c_str());
  std::fflush(stdout);
}

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
  }
  return path;
}

UnmanagedFrameSetting::UnmanagedFrameSetting(const std::string& program) {
  // Wine's settings for one program are keyed by its file name.
  const std::string name = program.substr(program.find_last_of("\\/") + 1);
  const std::string key = "Software\\Wine\\AppDefaults\\" + name + "\\X11 Driver";
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_,
                      nullptr) != ERROR_SUCCESS) {
    key_ = nullptr;
    return;
  }
  RegSetValueExA(key_, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
}

UnmanagedFrameSetting::~UnmanagedFrameSetting() {
  if (!key_) return;
  RegDeleteValueA(key_, "Managed");
  RegCloseKey(key_);
}

ProgramUnderTest::ProgramUnderTest(const std::string& program, const std::string& simSetup,
                                   const std::string& workDir, const std::string& capture)
    : frames_(program) {
  // The child inherits the environment.
  SetEnvironmentVariableA("QV_SIM", simSetup.c_str());
  SetEnvironmentVariableA("QV_CAPTURE", capture.empty() ? nullptr : capture.c_str());
  std::string commandLine = "\"" + program + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workDir.empty() ? nullptr : workDir.c_str(), &startup, &info)) {
    std::printf("FAIL: cannot start %s (error %lu)\n", program.c_str(), GetLastError());
    return;
  }
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  id_ = info.dwProcessId;
}

ProgramUnderTest::~ProgramUnderTest() {
  if (process_ && WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
  }
}

std::string ProgramUnderTest::State() const {
  if (!process_) return "not started";
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code == STILL_ACTIVE ? "running" : "ended with code " + std::to_string(code);
}

bool ProgramUnderTest::WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) const {
  if (!process_) return false;
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (true) {
    if (condition()) return true;
    if (GetTickCount64() >= deadline) return false;
    if (WaitForSingleObject(process_.get(), kPollMs) == WAIT_OBJECT_0) return condition();
  }
}

HWND ProgramUnderTest::WaitForWindow(const char* windowClass, const char* caption,
                                     DWORD timeoutMs) const {
  HWND window = nullptr;
  WaitUntil(
      [&] {
        window = FindProcessWindow(id_, windowClass, caption);
        return window != nullptr;
      },
      timeoutMs);
  return window;
}

HWND ProgramUnderTest::ClickForOpenDialog(HWND window, const char* button, DWORD timeoutMs) const {
  HWND handle = ChildHandle(window, button, "Button");
  if (!handle) return nullptr;
  // Posted: the handler runs inside the program's own message loop.
  PostMessageA(handle, BM_CLICK, 0, 0);
  return WaitForWindow("#32770", "Open", timeoutMs);
}

bool AnswerOpenDialog(HWND dialog, const std::string& path) {
  // The file name box of the common open dialog (cmb13), or its plain edit (edt1) in the older
  // style.
  constexpr int kFileNameCombo = 0x47C;
  constexpr int kFileNameEdit = 0x480;
  HWND name = GetDlgItem(dialog, kFileNameCombo);
  if (!name) name = GetDlgItem(dialog, kFileNameEdit);
  if (!name) return false;
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  return true;
}

HWND ProgramUnderTest::WaitForMainWindow(const char* caption, DWORD timeoutMs,
                                         ULONGLONG started) const {
  HWND window = WaitForWindow(nullptr, caption, timeoutMs);
  if (!window) {
    std::printf("FAIL: no window \"%s\" within %lu ms (program %s)\n", caption, timeoutMs,
                State().c_str());
    return nullptr;
  }
  std::printf("window found after %llu ms\n", GetTickCount64() - started);
  return window;
}

void ProgramUnderTest::CloseAndCheckExit(HWND window, DWORD timeoutMs, Failures& failures) {
  PostMessageA(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
    failures.Check(false, "the program did not end within " + std::to_string(timeoutMs / 1000) +
                              " s of closing its window");
    return;  // the destructor ends it
  }
  DWORD code = 1;
  GetExitCodeProcess(process_.get(), &code);
  failures.Check(code == 0, "exit code " + std::to_string(code) + ", expected 0");
}

int ProgramUnderTest::Finish(HWND window, const std::string& screenshot, const char* name,
                             ULONGLONG started, Failures& failures) {
  constexpr DWORD kExitTimeoutMs = 15000;
  if (SaveWindowBitmap(window, screenshot)) {
    std::printf("screenshot: %s\n", screenshot.c_str());
  } else {
    failures.Check(false, "could not save the screenshot " + screenshot);
  }
  CloseAndCheckExit(window, kExitTimeoutMs, failures);
  std::printf("%s test %s (%llu ms)\n", name, failures.count == 0 ? "passed" : "FAILED",
              GetTickCount64() - started);
  return failures.count == 0 ? 0 : 1;
}

}  // namespace qv::uitest
