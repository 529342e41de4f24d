#include "app/win32/WindowProgram.h"

#include <windows.h>

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/Unit1.h"
#include "flash/CoreState.h"
#include "ui/win32/Win32Window.h"
#include "util/FilePaths.h"
#include "util/StreamedFile.h"

namespace qv {

namespace {

// The name another program is told holds a device: the program's file without its extension, as
// the task list shows it ("qvupdate", "qvservice-sim").
std::string ProgramName() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string_view name(path, length < MAX_PATH ? length : 0);
  name = name.substr(name.find_last_of("\\/") + 1);
  name = name.substr(0, name.rfind('.'));
  return name.empty() ? std::string(kApplicationTitle) : std::string(name);
}

// The ports as the window sees them: captured, when a capture is made.
struct WindowDevices {
  DeviceIo& io;
  DeviceInterfaces& interfaces;
};

int RunWindow(const WindowPorts& ports, const WindowDevices& devices, Win32Shell& shell,
              WindowMode mode) {
  AppState app;
  app.ServiceMode = mode == WindowMode::kService;
  app.Ownership = DeviceOwnership(ports.claimKeyFor, ProgramName());
  app.ReplayMismatch = ports.replayMismatch;
  CoreState core(devices.io, devices.interfaces, ports.clock);
  TForm1 form(app, core, shell);
  // The creation event runs before the window is first shown, as the layout's caption must
  // never be seen.
  form.Create();

  ui::Win32Window window(form, form.Dispatcher());
  if (!window.Handle()) {
    MessageBoxA(nullptr, "The main window could not be created.", kApplicationTitle,
                MB_OK | MB_ICONERROR);
    return 1;
  }
  window.OnCloseQuery = [&form] { return form.Close() != CloseAction::None; };
  window.OnQueryEndSession = [&form] { return form.SessionEndRefusal(); };
  window.Show(SW_SHOWNORMAL);

  // A replay the window's requests left is told once, when the handler that met it has
  // returned: every request after it failed, and the user is to know why.
  bool mismatchShown = false;
  const auto showMismatch = [&] {
    if (mismatchShown || !ports.replayMismatch) return;
    const std::string mismatch = ports.replayMismatch();
    if (mismatch.empty()) return;
    mismatchShown = true;
    shell.ShowMessageBox("QV_SIM replay: " + mismatch, ProgramName(), kMbOk | kMbIconError);
  };
  MSG msg;
  while (!shell.QuitRequested() && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (ui::HandleNavigationKey(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    showMismatch();
  }
  showMismatch();
  return mismatchShown ? kExitReplayLeft : 0;
}

int RunGuarded(const WindowPorts& ports, const WindowDevices& devices, Win32Shell& shell,
               WindowMode mode) {
  try {
    return RunWindow(ports, devices, shell, mode);
  } catch (const std::exception& e) {
    shell.ShowException(e.what());
  } catch (...) {
    shell.ShowException("");
  }
  return 0;
}

}  // namespace

std::string EnvironmentText(const char* name) {
  const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) return {};
  std::string value(needed, '\0');
  const DWORD length = GetEnvironmentVariableA(name, value.data(), needed);
  value.resize(length < needed ? length : 0);
  return value;
}

int RunWindowProgram(WindowPorts ports, Win32Shell& shell, WindowMode mode) {
  const std::string capturePath = EnvironmentText("QV_CAPTURE");
  if (capturePath.empty()) return RunGuarded(ports, {ports.io, ports.interfaces}, shell, mode);

  // A capture asked for and not made must never look made: the program ends before anything is
  // sent.
  const auto refuse = [&](const std::string& why) {
    shell.ShowMessageBox("QV_CAPTURE: " + why + "\n\nNo capture is made.", ProgramName(),
                         kMbOk | kMbIconError);
    return kExitSetup;
  };
  if (!ports.replayedFile.empty() && SameFile(capturePath, ports.replayedFile))
    return refuse(QuotedPath(capturePath) +
                  " is the capture QV_SIM replays: the one would overwrite the other. Give each "
                  "its own file");
  StreamedFile file(capturePath);
  if (!file.Ready()) return refuse(file.Error());
  ConversationCapture capture(ports.io, ports.interfaces, ports.deviceClock, file,
                              {.toolVersion = QV_TOOL_VERSION, .port = ports.kind});
  // Its first line is written: a file that takes nothing (a full disk) holds no capture either.
  if (!file.Error().empty()) return refuse(file.Error());
  const int status = RunGuarded(ports, {capture, capture}, shell, mode);
  // A capture that stopped taking lines does not stop the user's update, which may be half done:
  // the devices are worked with as without it, and the user learns at the end that the capture
  // holds only the start of the conversation.
  if (file.Error().empty()) return status;
  shell.ShowMessageBox("QV_CAPTURE: " + file.Error() +
                           "\n\nThe capture holds only what was written before; the devices were "
                           "worked with as usual.",
                       ProgramName(), kMbOk | kMbIconError);
  return status == 0 ? kExitSetup : status;
}

}  // namespace qv
