#pragma once

#include <windows.h>

// Keys typed into another program's window as a user types them: real input, so the program's
// own message loop sees them with the shift state they were pressed with.

namespace qv::uitest {

struct Keys {
  WORD key = 0;
  bool shift = false;
  bool ctrl = false;
};

// Brings the window to the front and types the key (with its modifiers) into it.
void PressKey(HWND window, Keys keys);

// The window that has the keyboard focus in the thread of `window` (null when none has).
HWND FocusIn(HWND window);

// Types the key and waits up to timeoutMs for the focus to leave `from`; the focus then.
HWND PressAndWaitForFocusMove(HWND window, Keys keys, HWND from, DWORD timeoutMs);

}  // namespace qv::uitest
