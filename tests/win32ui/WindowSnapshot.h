#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/OwnedHandle.h"

// What the driver reads of another program's window through Win32 alone.

namespace qv::uitest {

using test::OwnedHandle;

struct ChildWindow {
  HWND hwnd = nullptr;
  std::string windowClass;
  std::string text;
  bool visible = false;  // itself and every parent
  bool enabled = false;
};

// Every descendant window of a top-level window.
std::vector<ChildWindow> ChildWindows(HWND window);

// The first child with exactly this text and, unless windowClass is null, this class (in any
// letter case); null when there is none.
const ChildWindow* FindChild(const std::vector<ChildWindow>& children, const std::string& text,
                             const char* windowClass);

// The handle of the first child with this text and class; null when there is none.
HWND ChildHandle(HWND window, const char* text, const char* windowClass);
// Whether a label with exactly this text is in sight.
bool LabelShown(HWND window, const char* text);
// Chooses the tab of that index among the shown tabs of the window's page control, as a click
// on it would.
void ChooseTab(HWND window, WPARAM index);

// A visible top-level window of the given process with exactly this caption and, unless
// windowClass is null, this class. Other programs under the same Wine server may show windows
// of the same caption, so the process decides.
HWND FindProcessWindow(DWORD processId, const char* windowClass, const char* caption);

// The window's text, read through the owning process.
std::string WindowText(HWND window);

// The window as the screen shows it, frame included, as a 24-bit BMP file.
bool SaveWindowBitmap(HWND window, const std::string& path);

}  // namespace qv::uitest
