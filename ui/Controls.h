#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Shell.h"
#include "ui/Control.h"

namespace qv::ui {

class Label : public Control {
 public:
  explicit Label(std::string name) : Control(ControlKind::Label, std::move(name)) {}
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent) { transparent_ = transparent; }

 private:
  bool transparent_ = true;
};

class Button : public Control {
 public:
  // withGlyph: a button with a picture beside its caption; the picture is the renderer's.
  explicit Button(std::string name, bool withGlyph = false)
      : Control(withGlyph ? ControlKind::BitBtn : ControlKind::Button, std::move(name)) {}
};

// Check boxes and radio buttons. Setting Checked from code behaves as a click would: the click
// event runs when the state changes (for a radio button only when it becomes checked), and
// checking a radio button unchecks the other radio buttons of the same parent.
class CheckBox : public Control {
 public:
  explicit CheckBox(std::string name) : Control(ControlKind::CheckBox, std::move(name)) {}
  bool Checked() const { return checked_; }
  virtual void SetChecked(bool checked);
  // What a user's click does: toggle.
  void Toggle() { SetChecked(!checked_); }

 protected:
  CheckBox(ControlKind kind, std::string name) : Control(kind, std::move(name)) {}
  // Changes the state and tells observers, without the click event.
  void StoreChecked(bool checked);

 private:
  bool checked_ = false;
};

class RadioButton : public CheckBox {
 public:
  explicit RadioButton(std::string name) : CheckBox(ControlKind::RadioButton, std::move(name)) {}
  void SetChecked(bool checked) override;
};

class Edit : public Control {
 public:
  explicit Edit(std::string name) : Control(ControlKind::Edit, std::move(name)) {
    SetColor(clWindow);
  }
  // Text changes run OnChange, from code or from typing.
  void SetCaption(std::string text) override;

 protected:
  Edit(ControlKind kind, std::string name) : Control(kind, std::move(name)) { SetColor(clWindow); }
};

enum class LabelPosition { Above, Left };

class LabeledEdit : public Edit {
 public:
  explicit LabeledEdit(std::string name) : Edit(ControlKind::LabeledEdit, std::move(name)) {}
  const std::string& LabelCaption() const { return labelCaption_; }
  void SetLabelCaption(std::string caption);
  LabelPosition GetLabelPosition() const { return labelPosition_; }
  void SetLabelPosition(LabelPosition position) { labelPosition_ = position; }
  int LabelSpacing() const { return labelSpacing_; }
  void SetLabelSpacing(int spacing) { labelSpacing_ = spacing; }

 private:
  std::string labelCaption_;
  LabelPosition labelPosition_ = LabelPosition::Left;
  int labelSpacing_ = 3;
};

class ComboBox : public Control {
 public:
  explicit ComboBox(std::string name) : Control(ControlKind::ComboBox, std::move(name)) {
    SetColor(clWindow);
  }
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items);
  // -1: none selected. Selecting an item sets the text to it.
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);

 private:
  std::vector<std::string> items_;
  int itemIndex_ = -1;
};

enum class ScrollKind { Horizontal, Vertical };

class ScrollBar : public Control {
 public:
  explicit ScrollBar(std::string name) : Control(ControlKind::ScrollBar, std::move(name)) {}
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  void SetRange(int min, int max);
  // Clamped to the range; runs OnChange when the position changes.
  void SetPosition(int position);
  ScrollKind GetScrollKind() const { return scrollKind_; }
  void SetScrollKind(ScrollKind kind) { scrollKind_ = kind; }

 private:
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  ScrollKind scrollKind_ = ScrollKind::Horizontal;
};

class GroupBox : public Control {
 public:
  explicit GroupBox(std::string name) : Control(ControlKind::GroupBox, std::move(name)) {}
};

enum class Bevel { None, Raised, Lowered };

class Panel : public Control {
 public:
  explicit Panel(std::string name) : Control(ControlKind::Panel, std::move(name)) {}
  Bevel BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(Bevel bevel) { bevelOuter_ = bevel; }
  bool Bordered() const { return bordered_; }
  void SetBordered(bool bordered) { bordered_ = bordered; }

 private:
  Bevel bevelOuter_ = Bevel::Raised;
  bool bordered_ = false;
};

// A picture; which picture is the renderer's business, the model knows its size only.
class Image : public Control {
 public:
  explicit Image(std::string name) : Control(ControlKind::Image, std::move(name)) {}
  int PictureWidth() const { return pictureWidth_; }
  int PictureHeight() const { return pictureHeight_; }
  void SetPictureSize(int width, int height) {
    pictureWidth_ = width;
    pictureHeight_ = height;
  }
  bool Stretch() const { return stretch_; }
  void SetStretch(bool stretch) { stretch_ = stretch; }

 private:
  int pictureWidth_ = 0;
  int pictureHeight_ = 0;
  bool stretch_ = true;
};

class TabSheet : public Control {
 public:
  explicit TabSheet(std::string name) : Control(ControlKind::TabSheet, std::move(name)) {}
  bool TabVisible() const { return tabVisible_; }
  void SetTabVisible(bool visible);

 private:
  bool tabVisible_ = true;
};

// Its tab sheets are its children, in page order.
class PageControl : public Control {
 public:
  explicit PageControl(std::string name) : Control(ControlKind::PageControl, std::move(name)) {}
  std::vector<TabSheet*> Pages() const;
  TabSheet* ActivePage() const { return activePage_; }
  // From code: no change event (a user's tab click goes through the dispatcher, which runs it).
  void SetActivePage(TabSheet* page);

 private:
  TabSheet* activePage_ = nullptr;
};

enum GridOptions : unsigned {
  kGridEditing = 1,
  kGridRangeSelect = 2,
};

enum class ScrollBars { None, Horizontal, Vertical, Both };

class StringGrid : public Control {
 public:
  explicit StringGrid(std::string name);

  int ColCount() const { return colCount_; }
  int RowCount() const { return rowCount_; }
  // Resizes; cells that remain keep their text.
  void SetSize(int colCount, int rowCount);
  int FixedCols() const { return fixedCols_; }
  int FixedRows() const { return fixedRows_; }
  void SetFixed(int fixedCols, int fixedRows);
  int DefaultColWidth() const { return defaultColWidth_; }
  int DefaultRowHeight() const { return defaultRowHeight_; }
  void SetDefaultCellSize(int colWidth, int rowHeight);
  unsigned Options() const { return options_; }
  void SetOptions(unsigned options) { options_ = options; }
  ScrollBars GetScrollBars() const { return scrollBars_; }
  void SetScrollBars(ScrollBars bars) { scrollBars_ = bars; }

  // Out-of-range cells read as empty and ignore writes.
  const std::string& Cell(int col, int row) const;
  void SetCell(int col, int row, std::string text);

  // The colour a fixed (header) cell is painted in: the button face unless a handler
  // highlights it. Out-of-range cells read as the button face and ignore writes.
  Color FixedCellColor(int col, int row) const;
  void SetFixedCellColor(int col, int row, Color color);

  // The selected cell, never a fixed one.
  int Col() const { return col_; }
  int Row() const { return row_; }
  void SetCurrentCell(int col, int row);

  SelectCellEvent OnSelectCell;

 private:
  bool InRange(int col, int row) const {
    return col >= 0 && row >= 0 && col < colCount_ && row < rowCount_;
  }

  int colCount_ = 5;
  int rowCount_ = 5;
  int fixedCols_ = 1;
  int fixedRows_ = 1;
  int defaultColWidth_ = 64;
  int defaultRowHeight_ = 24;
  unsigned options_ = 0;
  ScrollBars scrollBars_ = ScrollBars::Both;
  std::vector<std::string> cells_;
  std::vector<Color> fixedColors_;
  int col_ = 1;
  int row_ = 1;
};

// Fires OnTimer every Interval milliseconds while enabled; an interval of 0 never fires.
class Timer : public Control {
 public:
  explicit Timer(std::string name) : Control(ControlKind::Timer, std::move(name)) {}
  void SetEnabled(bool enabled) override;
  std::uint32_t Interval() const { return interval_; }
  void SetInterval(std::uint32_t milliseconds);

  NotifyEvent OnTimer;

  // When the next tick is due; kept by the dispatcher, cleared when the timer is switched on or
  // its interval changes, so a restarted timer waits a whole interval.
  std::optional<std::chrono::microseconds> NextDue() const { return nextDue_; }
  void SetNextDue(std::optional<std::chrono::microseconds> due) { nextDue_ = due; }

 private:
  std::uint32_t interval_ = 1000;
  std::optional<std::chrono::microseconds> nextDue_;
};

// The common file-open or file-save dialog as a component: its settings, and the path chosen
// last.
class FileDialog : public Control {
 public:
  FileDialog(std::string name, bool save)
      : Control(save ? ControlKind::SaveDialog : ControlKind::OpenDialog, std::move(name)) {}
  const std::string& Filter() const { return filter_; }
  void SetFilter(std::string filter) { filter_ = std::move(filter); }
  const std::string& DefaultExt() const { return defaultExt_; }
  void SetDefaultExt(std::string ext) { defaultExt_ = std::move(ext); }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(std::string name) { fileName_ = std::move(name); }

  // Shows the dialog; true and FileName set when the user chose a file.
  bool Execute(Shell& shell);

 private:
  std::string filter_;
  std::string defaultExt_;
  std::string fileName_;
};

}  // namespace qv::ui
