#include "app/win32/WindowProgram.h"

#include <windows.h>

#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "app/Unit1.h"
#include "flash/CoreState.h"
#include "ui/win32/Win32Window.h"

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

int RunWindow(DeviceIo& io, DeviceInterfaces& interfaces, Clock& clock, Win32Shell& shell,
              WindowMode mode, ClaimKeyFor claimKeyFor) {
  AppState app;
  app.ServiceMode = mode == WindowMode::kService;
  app.Ownership = DeviceOwnership(std::move(claimKeyFor), ProgramName());
  CoreState core(io, interfaces, clock);
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

  MSG msg;
  while (!shell.QuitRequested() && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (ui::HandleNavigationKey(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

}  // namespace

int RunWindowProgram(DeviceIo& io, DeviceInterfaces& interfaces, Clock& clock, Win32Shell& shell,
                     WindowMode mode, ClaimKeyFor claimKeyFor) {
  try {
    return RunWindow(io, interfaces, clock, shell, mode, std::move(claimKeyFor));
  } catch (const std::exception& e) {
    shell.ShowException(e.what());
  } catch (...) {
    shell.ShowException("");
  }
  return 0;
}

}  // namespace qv
