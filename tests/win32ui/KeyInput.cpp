#include "tests/win32ui/KeyInput.h"

#include <vector>

namespace qv::uitest {

namespace {

INPUT KeyEvent(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

}  // namespace

void PressKey(HWND window, Keys keys) {
  SetForegroundWindow(window);
  std::vector<INPUT> inputs;
  if (keys.ctrl) inputs.push_back(KeyEvent(VK_CONTROL, false));
  if (keys.shift) inputs.push_back(KeyEvent(VK_SHIFT, false));
  inputs.push_back(KeyEvent(keys.key, false));
  inputs.push_back(KeyEvent(keys.key, true));
  if (keys.shift) inputs.push_back(KeyEvent(VK_SHIFT, true));
  if (keys.ctrl) inputs.push_back(KeyEvent(VK_CONTROL, true));
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

HWND FocusIn(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

HWND PressAndWaitForFocusMove(HWND window, Keys keys, HWND from, DWORD timeoutMs) {
  PressKey(window, keys);
  const ULONGLONG until = GetTickCount64() + timeoutMs;
  HWND focus = FocusIn(window);
  while (focus == from && GetTickCount64() < until) {
    Sleep(50);
    focus = FocusIn(window);
  }
  return focus;
}

}  // namespace qv::uitest
