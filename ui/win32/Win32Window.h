#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui/Dispatcher.h"
#include "ui/Form.h"

namespace qv::ui {

// Shows a form of the control model as a native window: one native window per visual control,
// kept in step with the model through its change notifications, and every native input handed
// to the dispatcher. Holds no tool logic.
class Win32Window {
 public:
  // Creates the window and its controls from the model's current state, hidden.
  Win32Window(Form& form, EventDispatcher& dispatcher);
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;
  ~Win32Window();

  // Shows the window (a ShowWindow command, SW_SHOWNORMAL by default).
  void Show(int showCommand = 1);

  // Asked when the user closes the window; false keeps it open. Without it the window closes.
  std::function<bool()> OnCloseQuery;
  // Asked when the session is about to end (logoff, shutdown): why it must not end now, which
  // the system shows the user, or empty when it may. The refusal is withdrawn once the answer is
  // empty again. Without it the session may always end.
  std::function<std::string()> OnQueryEndSession;
  // Set when the window is gone; the program's message loop then ends (WM_QUIT is posted).
  bool Closed() const;

  // The top-level window (an HWND), and the native window of one control (nullptr for
  // non-visual components).
  void* Handle() const;
  void* HandleOf(const Control& control) const;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The keyboard's way between the controls of a form's window: Tab and Shift+Tab in the layout's
// order, Ctrl+Tab and Ctrl+Shift+Tab between the pages, arrows within a radio group. Each message
// loop that serves the window asks it first with each message (a MSG); true means the key was
// used and is not to be dispatched. Enter and Space reach the focused control as usual.
bool HandleNavigationKey(const void* message);

}  // namespace qv::ui
