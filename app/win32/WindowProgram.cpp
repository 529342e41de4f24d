#include "app/win32/WindowProgram.h"

#include <windows.h>

#include <exception>

#include "app/Unit1.h"
#include "flash/CoreState.h"
#include "ui/win32/Win32Window.h"

namespace qv {

namespace {

int RunWindow(DeviceIo& io, DeviceInterfaces& interfaces, Clock& clock, Win32Shell& shell,
              WindowMode mode) {
  AppState app;
  app.ServiceMode = mode == WindowMode::kService;
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
  window.Show(SW_SHOWNORMAL);

  MSG msg;
  while (!shell.QuitRequested() && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

}  // namespace

int RunWindowProgram(DeviceIo& io, DeviceInterfaces& interfaces, Clock& clock, Win32Shell& shell,
                     WindowMode mode) {
  try {
    return RunWindow(io, interfaces, clock, shell, mode);
  } catch (const std::exception& e) {
    shell.ShowException(e.what());
  } catch (...) {
    shell.ShowException("");
  }
  return 0;
}

}  // namespace qv
