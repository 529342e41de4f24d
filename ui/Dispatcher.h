#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Shell.h"
#include "ui/Control.h"
#include "ui/Controls.h"

namespace qv::ui {

class Form;

// Every user input and every timer tick enters the program here. Input for a control that does
// not take input (disabled, or inside a disabled parent) is dropped. Anything a handler throws
// is caught and shown by the shell's standard error dialog; the program goes on.
class EventDispatcher {
 public:
  explicit EventDispatcher(Shell& shell) : shell_(shell) {}

  // A click: a check box toggles, a radio button becomes checked (each runs its click event
  // through its state change), any other control runs its click event.
  void Click(Control& control);
  // Key codes are the desktop's virtual-key codes (Enter is 0x0D).
  void KeyDown(Control& control, std::uint16_t key, ShiftState shift = kShiftNone);
  void MouseUp(Control& control, MouseButton button = MouseButton::Left,
               ShiftState shift = kShiftNone, int x = 0, int y = 0);
  // The user replaces an edit's or combo box's text (runs its change event).
  void TypeText(Control& control, std::string text);
  // The user picks a combo box item.
  void SelectItem(ComboBox& combo, int index);
  // The user moves a scroll bar (runs its change event when the position changes).
  void Scroll(ScrollBar& bar, int position);
  // The user clicks a grid cell: the select-cell event decides, then the cell becomes current.
  // Returns whether the cell was selected.
  bool SelectCell(StringGrid& grid, int col, int row);
  // The user edits a non-fixed cell of an editable grid.
  void EditCell(StringGrid& grid, int col, int row, std::string text);
  // The user clicks a visible tab: the page becomes active and the control's change event runs.
  void SelectPage(PageControl& pages, TabSheet& page);

  // One tick of a timer, as its interval elapsing would give (nothing if disabled or interval
  // 0).
  void Tick(Timer& timer);
  // Runs every timer of the form that is due at `now` (at most one tick per timer per call)
  // and schedules its next tick. A timer seen for the first time is scheduled one interval on.
  void RunDueTimers(Form& form, std::chrono::microseconds now);

  // Runs any code as a handler: what it throws goes to the standard error dialog.
  void Invoke(const std::function<void()>& handler);

  Shell& GetShell() { return shell_; }

 private:
  Shell& shell_;
};

}  // namespace qv::ui
