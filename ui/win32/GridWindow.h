#pragma once

#include <windows.h>

#include <string>

#include "ui/Controls.h"
#include "ui/Dispatcher.h"
#include "ui/win32/GdiCache.h"

namespace qv::ui {

// The native face of a string grid: paints the cells (fixed first row and column, the current
// cell highlighted), selects cells by mouse and arrow keys, edits a cell in place and hands
// every key to the grid's key event. All changes go through the dispatcher; the model repaints
// it through Refresh.
class GridWindow {
 public:
  static constexpr const char* kClassName = "QvStringGrid";
  static void RegisterClass(HINSTANCE instance);

  GridWindow(StringGrid& grid, EventDispatcher& dispatcher, GdiCache& gdi);
  GridWindow(const GridWindow&) = delete;
  GridWindow& operator=(const GridWindow&) = delete;

  // Creates the window; this object must outlive it.
  HWND Create(HWND parent, int id, DWORD style);
  HWND Handle() const { return hwnd_; }

  // A cell's text changed in the model (col, row) or the whole grid needs painting (-1, -1).
  void Refresh(int col = -1, int row = -1);
  // The window's scale changed (its owner has placed the grid anew): the cells' font, the editor
  // and the paint follow.
  void Rescale();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK EditorProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR data);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleEditor(HWND editor, UINT message, WPARAM wParam, LPARAM lParam);

  void Paint(HDC dc);
  std::string CellsText() const;
  bool HandleNavigation(WPARAM key);
  void BeginEdit(const std::string* replacement);
  void PlaceEditor();
  void EndEdit(bool keep, bool focusGrid);
  void SetEditorText(const std::string& text);
  std::string EditorText() const;

  StringGrid& grid_;
  EventDispatcher& dispatcher_;
  GdiCache& gdi_;
  HWND hwnd_ = nullptr;
  HWND editor_ = nullptr;
  bool editing_ = false;
  bool settingEditor_ = false;
  int editCol_ = 0;
  int editRow_ = 0;
  std::string original_;
};

// The shift state of the keyboard now, as the model's events want it.
ShiftState CurrentShift();

}  // namespace qv::ui
