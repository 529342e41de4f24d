#include "ui/Controls.h"

#include <algorithm>

namespace qv::ui {

void CheckBox::StoreChecked(bool checked) {
  checked_ = checked;
  Notify(Property::Checked);
}

void CheckBox::SetChecked(bool checked) {
  if (checked == checked_) return;
  StoreChecked(checked);
  Click();
}

void RadioButton::SetChecked(bool checked) {
  if (checked == Checked()) return;
  StoreChecked(checked);
  if (!checked) return;
  // The others of the group go off quietly; only the one that came on reports a click.
  if (Parent() != nullptr) {
    for (Control* sibling : Parent()->Children()) {
      auto* radio = dynamic_cast<RadioButton*>(sibling);
      if (radio != nullptr && radio != this && radio->Checked()) radio->StoreChecked(false);
    }
  }
  Click();
}

void Edit::SetCaption(std::string text) {
  if (text == Text()) return;
  Control::SetCaption(std::move(text));
  if (OnChange) OnChange(*this);
}

void LabeledEdit::SetLabelCaption(std::string caption) {
  if (caption == labelCaption_) return;
  labelCaption_ = std::move(caption);
  Notify(Property::LabelCaption);
}

void ComboBox::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  if (itemIndex_ >= static_cast<int>(items_.size())) itemIndex_ = -1;
  Notify(Property::Items);
}

void ComboBox::SetItemIndex(int index) {
  if (index < -1 || index >= static_cast<int>(items_.size())) index = -1;
  if (index == itemIndex_) return;
  itemIndex_ = index;
  Notify(Property::Items);
  if (index >= 0) SetText(items_[static_cast<std::size_t>(index)]);
}

void ScrollBar::SetRange(int min, int max) {
  if (max < min) max = min;
  min_ = min;
  max_ = max;
  Notify(Property::Position);
  SetPosition(position_);
}

void ScrollBar::SetPosition(int position) {
  position = std::clamp(position, min_, max_);
  if (position == position_) return;
  position_ = position;
  Notify(Property::Position);
  if (OnChange) OnChange(*this);
}

void TabSheet::SetTabVisible(bool visible) {
  if (visible == tabVisible_) return;
  tabVisible_ = visible;
  Notify(Property::TabVisible);
}

std::vector<TabSheet*> PageControl::Pages() const {
  std::vector<TabSheet*> pages;
  for (Control* child : Children()) {
    if (auto* page = dynamic_cast<TabSheet*>(child)) pages.push_back(page);
  }
  return pages;
}

void PageControl::SetActivePage(TabSheet* page) {
  if (page == activePage_) return;
  if (page != nullptr && page->Parent() != this) return;
  activePage_ = page;
  Notify(Property::ActivePage);
}

StringGrid::StringGrid(std::string name) : Control(ControlKind::StringGrid, std::move(name)) {
  SetColor(clWindow);
  cells_.resize(static_cast<std::size_t>(colCount_ * rowCount_));
  fixedColors_.assign(cells_.size(), clBtnFace);
}

void StringGrid::SetSize(int colCount, int rowCount) {
  colCount = std::max(colCount, 1);
  rowCount = std::max(rowCount, 1);
  std::vector<std::string> cells(static_cast<std::size_t>(colCount * rowCount));
  for (int r = 0; r < std::min(rowCount, rowCount_); ++r) {
    for (int c = 0; c < std::min(colCount, colCount_); ++c) {
      cells[static_cast<std::size_t>(r * colCount + c)] =
          std::move(cells_[static_cast<std::size_t>(r * colCount_ + c)]);
    }
  }
  cells_ = std::move(cells);
  fixedColors_.assign(cells_.size(), clBtnFace);
  colCount_ = colCount;
  rowCount_ = rowCount;
  col_ = std::clamp(col_, std::min(fixedCols_, colCount_ - 1), colCount_ - 1);
  row_ = std::clamp(row_, std::min(fixedRows_, rowCount_ - 1), rowCount_ - 1);
  Notify(Property::Bounds);
}

void StringGrid::SetFixed(int fixedCols, int fixedRows) {
  fixedCols_ = std::clamp(fixedCols, 0, colCount_ - 1);
  fixedRows_ = std::clamp(fixedRows, 0, rowCount_ - 1);
  SetCurrentCell(std::max(col_, fixedCols_), std::max(row_, fixedRows_));
}

void StringGrid::SetDefaultCellSize(int colWidth, int rowHeight) {
  defaultColWidth_ = colWidth;
  defaultRowHeight_ = rowHeight;
  Notify(Property::Bounds);
}

const std::string& StringGrid::Cell(int col, int row) const {
  static const std::string kEmpty;
  if (!InRange(col, row)) return kEmpty;
  return cells_[static_cast<std::size_t>(row * colCount_ + col)];
}

void StringGrid::SetCell(int col, int row, std::string text) {
  if (!InRange(col, row)) return;
  std::string& cell = cells_[static_cast<std::size_t>(row * colCount_ + col)];
  if (cell == text) return;
  cell = std::move(text);
  Notify(Change{Property::Cell, col, row});
}

Color StringGrid::FixedCellColor(int col, int row) const {
  if (!InRange(col, row)) return clBtnFace;
  return fixedColors_[static_cast<std::size_t>(row * colCount_ + col)];
}

void StringGrid::SetFixedCellColor(int col, int row, Color color) {
  if (!InRange(col, row)) return;
  Color& cell = fixedColors_[static_cast<std::size_t>(row * colCount_ + col)];
  if (cell == color) return;
  cell = color;
  Notify(Change{Property::Cell, col, row});
}

void StringGrid::SetCurrentCell(int col, int row) {
  if (!InRange(col, row) || col < fixedCols_ || row < fixedRows_) return;
  if (col == col_ && row == row_) return;
  col_ = col;
  row_ = row;
  Notify(Property::CurrentCell);
}

void Timer::SetEnabled(bool enabled) {
  if (enabled == Enabled()) return;
  SetNextDue(std::nullopt);
  Control::SetEnabled(enabled);
  Notify(Property::TimerSettings);
}

void Timer::SetInterval(std::uint32_t milliseconds) {
  if (milliseconds == interval_) return;
  SetNextDue(std::nullopt);
  interval_ = milliseconds;
  Notify(Property::TimerSettings);
}

bool FileDialog::Execute(Shell& shell) {
  const FileDialogRequest request{filter_, defaultExt_, fileName_, {}};
  const auto chosen = Kind() == ControlKind::SaveDialog ? shell.ShowSaveDialog(request)
                                                        : shell.ShowOpenDialog(request);
  if (!chosen) return false;
  SetFileName(*chosen);
  return true;
}

}  // namespace qv::ui
