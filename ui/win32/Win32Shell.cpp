#include "ui/win32/Win32Shell.h"

// clang-format off
#include <windows.h>
#include <commdlg.h>
// clang-format on

#include <vector>

#include "ui/win32/Win32Window.h"

namespace qv {

std::string NativeFilter(std::string_view filter) {
  std::string native(filter);
  for (char& c : native) {
    if (c == '|') c = '\0';
  }
  // One NUL ends the last string, the second ends the list.
  native.push_back('\0');
  native.push_back('\0');
  return native;
}

std::string NativeDefaultExt(std::string_view ext) {
  if (ext.starts_with("*")) ext.remove_prefix(1);
  if (ext.starts_with(".")) ext.remove_prefix(1);
  return std::string(ext);
}

std::string ExceptionText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && text.back() != '.') text.push_back('.');
  return text;
}

Win32Shell::Win32Shell(std::string applicationTitle)
    : applicationTitle_(std::move(applicationTitle)) {}

int Win32Shell::ShowMessageBox(std::string_view text, std::string_view caption, unsigned style) {
  const std::string textZ(text);
  const std::string captionZ(caption);
  return MessageBoxA(nullptr, textZ.c_str(), captionZ.c_str(), style);
}

std::optional<std::string> Win32Shell::ShowOpenDialog(const FileDialogRequest& request) {
  return ShowFileDialog(request, false);
}

std::optional<std::string> Win32Shell::ShowSaveDialog(const FileDialogRequest& request) {
  return ShowFileDialog(request, true);
}

std::optional<std::string> Win32Shell::ShowFileDialog(const FileDialogRequest& request, bool save) {
  const std::string filter = NativeFilter(request.filter);
  const std::string defaultExt = NativeDefaultExt(request.defaultExt);
  // Room for a long path; the initial name is cut to fit rather than overrun the buffer.
  std::vector<char> file(32 * 1024, '\0');
  request.fileName.copy(file.data(), file.size() - 1);

  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = GetActiveWindow();
  ofn.lpstrFilter = request.filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
  ofn.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
  ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
  const BOOL chosen = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
  if (!chosen) return std::nullopt;
  return std::string(file.data());
}

void Win32Shell::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Left for the main loop, which ends the program once the running handler returns.
      quitRequested_ = true;
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    // The keyboard moves between the controls here too; what a key presses goes through the
    // handlers, which refuse a second operation.
    if (ui::HandleNavigationKey(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void Win32Shell::ShowException(std::string_view message) {
  const std::string text = ExceptionText(message);
  MessageBoxA(nullptr, text.c_str(), applicationTitle_.c_str(), MB_OK | MB_ICONERROR);
}

int Win32Shell::ScreenPixelsPerInch() {
  HDC screen = GetDC(nullptr);
  if (!screen) return 96;
  const int ppi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return ppi;
}

std::filesystem::path Win32Shell::CurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return {};
  std::string buffer(needed, '\0');
  const DWORD length = GetCurrentDirectoryA(needed, buffer.data());
  if (length == 0 || length >= needed) return {};
  buffer.resize(length);
  return std::filesystem::path(buffer);
}

}  // namespace qv
