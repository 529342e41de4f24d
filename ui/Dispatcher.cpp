#include "ui/Dispatcher.h"

#include <exception>

#include "ui/Form.h"

namespace qv::ui {

void EventDispatcher::Invoke(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    shell_.ShowException(e.what());
  } catch (...) {
    // Anything else is reported as an error without a message.
    shell_.ShowException("");
  }
}

void EventDispatcher::Click(Control& control) {
  if (!control.EnabledForInput()) return;
  Invoke([&control] {
    if (auto* radio = dynamic_cast<RadioButton*>(&control)) {
      radio->SetChecked(true);
    } else if (auto* box = dynamic_cast<CheckBox*>(&control)) {
      box->Toggle();
    } else {
      control.Click();
    }
  });
}

void EventDispatcher::KeyDown(Control& control, std::uint16_t key, ShiftState shift) {
  if (!control.EnabledForInput() || !control.OnKeyDown) return;
  Invoke([&] { control.OnKeyDown(control, key, shift); });
}

void EventDispatcher::MouseUp(Control& control, MouseButton button, ShiftState shift, int x,
                              int y) {
  if (!control.EnabledForInput() || !control.OnMouseUp) return;
  Invoke([&] { control.OnMouseUp(control, button, shift, x, y); });
}

void EventDispatcher::TypeText(Control& control, std::string text) {
  if (!control.EnabledForInput()) return;
  Invoke([&] { control.SetText(std::move(text)); });
}

void EventDispatcher::SelectItem(ComboBox& combo, int index) {
  if (!combo.EnabledForInput()) return;
  Invoke([&] {
    const int before = combo.ItemIndex();
    combo.SetItemIndex(index);
    if (combo.ItemIndex() != before && combo.OnChange) combo.OnChange(combo);
  });
}

void EventDispatcher::Scroll(ScrollBar& bar, int position) {
  if (!bar.EnabledForInput()) return;
  Invoke([&] { bar.SetPosition(position); });
}

bool EventDispatcher::SelectCell(StringGrid& grid, int col, int row) {
  if (!grid.EnabledForInput()) return false;
  if (col < grid.FixedCols() || row < grid.FixedRows() || col >= grid.ColCount() ||
      row >= grid.RowCount()) {
    return false;
  }
  bool selected = false;
  Invoke([&] {
    bool canSelect = true;
    if (grid.OnSelectCell) grid.OnSelectCell(grid, col, row, canSelect);
    if (!canSelect) return;
    grid.SetCurrentCell(col, row);
    selected = true;
  });
  return selected;
}

void EventDispatcher::EditCell(StringGrid& grid, int col, int row, std::string text) {
  if (!grid.EnabledForInput() || (grid.Options() & kGridEditing) == 0) return;
  if (col < grid.FixedCols() || row < grid.FixedRows()) return;
  Invoke([&] { grid.SetCell(col, row, std::move(text)); });
}

void EventDispatcher::SelectPage(PageControl& pages, TabSheet& page) {
  if (!pages.EnabledForInput() || page.Parent() != &pages || !page.TabVisible()) return;
  if (pages.ActivePage() == &page) return;
  Invoke([&] {
    pages.SetActivePage(&page);
    if (pages.OnChange) pages.OnChange(pages);
  });
}

void EventDispatcher::Tick(Timer& timer) {
  if (!timer.Enabled() || timer.Interval() == 0 || !timer.OnTimer) return;
  Invoke([&timer] { timer.OnTimer(timer); });
}

void EventDispatcher::RunDueTimers(Form& form, std::chrono::microseconds now) {
  // Collected first: a handler may create or change timers.
  std::vector<Timer*> timers;
  for (const auto& component : form.Components()) {
    if (auto* timer = dynamic_cast<Timer*>(component.get())) timers.push_back(timer);
  }
  for (Timer* timer : timers) {
    if (!timer->Enabled() || timer->Interval() == 0) continue;
    const std::chrono::microseconds interval = std::chrono::milliseconds(timer->Interval());
    const auto due = timer->NextDue();
    if (!due) {
      timer->SetNextDue(now + interval);
      continue;
    }
    if (now < *due) continue;
    timer->SetNextDue(now + interval);
    Tick(*timer);
  }
}

}  // namespace qv::ui
