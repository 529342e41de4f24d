#include "ui/win32/GridWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "ui/win32/GridGeometry.h"

namespace qv::ui {

namespace {

// Posted by the in-place editor when it loses the focus: the edit ends after the focus change.
constexpr UINT kEndEditMessage = WM_APP + 1;
constexpr UINT_PTR kEditorSubclassId = 1;
// Silver, as the desktop's grids draw their lines.
constexpr Color kGridLineColor = 0xC0C0C0;

RECT ToRect(const CellBox& box) {
  return RECT{box.left, box.top, box.right, box.bottom};
}

}  // namespace

ShiftState CurrentShift() {
  ShiftState shift = kShiftNone;
  if (GetKeyState(VK_SHIFT) < 0) shift |= kShift;
  if (GetKeyState(VK_CONTROL) < 0) shift |= kCtrl;
  if (GetKeyState(VK_MENU) < 0) shift |= kAlt;
  return shift;
}

void GridWindow::RegisterClass(HINSTANCE instance) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  RegisterClassExA(&wc);  // fails harmlessly when a second window registered it already
}

GridWindow::GridWindow(StringGrid& grid, EventDispatcher& dispatcher, GdiCache& gdi)
    : grid_(grid), dispatcher_(dispatcher), gdi_(gdi) {}

HWND GridWindow::Create(HWND parent, int id, DWORD style) {
  const RECT b = gdi_.Scale().Of(grid_.Bounds());
  CreateWindowExA(WS_EX_CLIENTEDGE, kClassName, "", style, b.left, b.top, b.right - b.left,
                  b.bottom - b.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                  GetModuleHandleA(nullptr), this);
  if (!hwnd_) return nullptr;
  editor_ = CreateWindowExA(0, "EDIT", "", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 0, 0, hwnd_, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  if (editor_) {
    SetWindowSubclass(editor_, EditorProc, kEditorSubclassId, reinterpret_cast<DWORD_PTR>(this));
    SendMessageA(editor_, WM_SETFONT, reinterpret_cast<WPARAM>(gdi_.FontFor(grid_.GetFont())),
                 FALSE);
  }
  return hwnd_;
}

void GridWindow::Rescale() {
  if (!hwnd_) return;
  if (editor_) {
    SendMessageA(editor_, WM_SETFONT, reinterpret_cast<WPARAM>(gdi_.FontFor(grid_.GetFont())),
                 FALSE);
  }
  if (editing_) PlaceEditor();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void GridWindow::PlaceEditor() {
  // Inside the cell's highlight and focus frame.
  const CellBox box = CellBounds(grid_, editCol_, editRow_, gdi_.Scale());
  const int inset = gdi_.Scale()(2);
  MoveWindow(editor_, box.left + inset, box.top + inset, box.right - box.left - inset - 1,
             box.bottom - box.top - inset - 1, FALSE);
}

void GridWindow::Refresh(int col, int row) {
  if (!hwnd_) return;
  if (editing_ && ((col == editCol_ && row == editRow_) || col < 0)) {
    const std::string& text = grid_.Cell(editCol_, editRow_);
    if (EditorText() != text) SetEditorText(text);
  }
  if (col < 0 || row < 0) {
    InvalidateRect(hwnd_, nullptr, TRUE);
    return;
  }
  RECT cell = ToRect(CellBounds(grid_, col, row, gdi_.Scale()));
  InvalidateRect(hwnd_, &cell, TRUE);
}

LRESULT CALLBACK GridWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* self = static_cast<GridWindow*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<GridWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->editor_ = nullptr;
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  return self->Handle(message, wParam, lParam);
}

LRESULT GridWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      Paint(dc);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // Paint covers everything
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    // The grid's text is its cells, tab-separated, one line per row: what a screen reader or a
    // test driver in another process can ask any window for.
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(CellsText().size());
    case WM_GETTEXT: {
      if (wParam == 0) return 0;
      const std::string text = CellsText();
      const std::size_t n = std::min<std::size_t>(text.size(), wParam - 1);
      char* out = reinterpret_cast<char*>(lParam);
      std::copy_n(text.begin(), n, out);
      out[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      SetFocus(hwnd_);
      const auto cell = CellAt(grid_, static_cast<short>(LOWORD(lParam)),
                               static_cast<short>(HIWORD(lParam)), gdi_.Scale());
      if (!cell) return 0;
      const auto [col, row] = *cell;
      if (editing_) EndEdit(true, true);
      const bool current = col == grid_.Col() && row == grid_.Row();
      if (current || message == WM_LBUTTONDBLCLK) {
        if (current) BeginEdit(nullptr);
      } else {
        dispatcher_.SelectCell(grid_, col, row);
      }
      return 0;
    }
    case WM_KEYDOWN: {
      dispatcher_.KeyDown(grid_, static_cast<std::uint16_t>(wParam), CurrentShift());
      if (wParam == VK_F2) {
        BeginEdit(nullptr);
        return 0;
      }
      HandleNavigation(wParam);
      return 0;
    }
    case WM_CHAR: {
      const auto c = static_cast<unsigned char>(wParam);
      if (c >= 0x20 && c != 0x7F) {
        // Typing over a cell replaces its text, starting with the key typed.
        const std::string first(1, static_cast<char>(c));
        BeginEdit(&first);
      }
      return 0;
    }
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lParam) == editor_ && HIWORD(wParam) == EN_CHANGE && editing_ &&
          !settingEditor_) {
        dispatcher_.EditCell(grid_, editCol_, editRow_, EditorText());
      }
      return 0;
    case kEndEditMessage:
      if (editing_ && GetFocus() != editor_) EndEdit(true, false);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    default:
      return DefWindowProcA(hwnd_, message, wParam, lParam);
  }
}

bool GridWindow::HandleNavigation(WPARAM key) {
  GridMove move;
  switch (key) {
    case VK_LEFT:
      move = GridMove::Left;
      break;
    case VK_RIGHT:
      move = GridMove::Right;
      break;
    case VK_UP:
      move = GridMove::Up;
      break;
    case VK_DOWN:
      move = GridMove::Down;
      break;
    case VK_HOME:
      move = GridMove::Home;
      break;
    case VK_END:
      move = GridMove::End;
      break;
    case VK_PRIOR:
      move = GridMove::PageUp;
      break;
    case VK_NEXT:
      move = GridMove::PageDown;
      break;
    default:
      return false;
  }
  const auto [col, row] = MovedCell(grid_, move);
  if (col != grid_.Col() || row != grid_.Row()) dispatcher_.SelectCell(grid_, col, row);
  return true;
}

void GridWindow::BeginEdit(const std::string* replacement) {
  if (!editor_ || (grid_.Options() & kGridEditing) == 0 || !grid_.EnabledForInput()) return;
  if (grid_.Col() < grid_.FixedCols() || grid_.Row() < grid_.FixedRows()) return;
  editing_ = true;
  editCol_ = grid_.Col();
  editRow_ = grid_.Row();
  original_ = grid_.Cell(editCol_, editRow_);
  PlaceEditor();
  SetEditorText(original_);
  ShowWindow(editor_, SW_SHOW);
  SetFocus(editor_);
  if (replacement) {
    // Goes the way a typed text goes: into the editor, then into the cell.
    SetWindowTextA(editor_, replacement->c_str());
    SendMessageA(editor_, EM_SETSEL, replacement->size(), replacement->size());
  } else {
    SendMessageA(editor_, EM_SETSEL, 0, -1);
  }
}

void GridWindow::EndEdit(bool keep, bool focusGrid) {
  if (!editing_) return;
  editing_ = false;
  if (!keep) dispatcher_.EditCell(grid_, editCol_, editRow_, original_);
  ShowWindow(editor_, SW_HIDE);
  if (focusGrid) SetFocus(hwnd_);
  Refresh(editCol_, editRow_);
}

void GridWindow::SetEditorText(const std::string& text) {
  settingEditor_ = true;
  SetWindowTextA(editor_, text.c_str());
  settingEditor_ = false;
}

std::string GridWindow::EditorText() const {
  const int length = GetWindowTextLengthA(editor_);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(editor_, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

LRESULT CALLBACK GridWindow::EditorProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<GridWindow*>(data);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, EditorProc, kEditorSubclassId);
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
  return self->HandleEditor(hwnd, message, wParam, lParam);
}

LRESULT GridWindow::HandleEditor(HWND editor, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS | DefSubclassProc(editor, message, wParam, lParam);
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_RETURN:
          // The text is in the cell already; the grid's key event sees Enter after the edit.
          EndEdit(true, true);
          dispatcher_.KeyDown(grid_, VK_RETURN, CurrentShift());
          return 0;
        case VK_ESCAPE:
          EndEdit(false, true);
          return 0;
        case VK_UP:
        case VK_DOWN:
        case VK_PRIOR:
        case VK_NEXT:
          EndEdit(true, true);
          dispatcher_.KeyDown(grid_, static_cast<std::uint16_t>(wParam), CurrentShift());
          HandleNavigation(wParam);
          return 0;
        default:
          dispatcher_.KeyDown(grid_, static_cast<std::uint16_t>(wParam), CurrentShift());
          break;
      }
      break;
    case WM_CHAR:
      // Enter and Escape are handled as keys; as characters they would only beep.
      if (wParam == '\r' || wParam == 0x1B) return 0;
      break;
    case WM_KILLFOCUS:
      PostMessageA(hwnd_, kEndEditMessage, 0, 0);
      break;
    default:
      break;
  }
  return DefSubclassProc(editor, message, wParam, lParam);
}

std::string GridWindow::CellsText() const {
  std::string text;
  for (int row = 0; row < grid_.RowCount(); ++row) {
    for (int col = 0; col < grid_.ColCount(); ++col) {
      if (col > 0) text += '\t';
      text += grid_.Cell(col, row);
    }
    text += "\r\n";
  }
  return text;
}

void GridWindow::Paint(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  // The grid lines and the area beyond the last cell.
  FillRect(dc, &client, gdi_.BrushFor(kGridLineColor));
  HGDIOBJ oldFont = SelectObject(dc, gdi_.FontFor(grid_.GetFont()));
  SetBkMode(dc, TRANSPARENT);
  const COLORREF text = ResolveColor(grid_.GetFont().color);
  for (int row = 0; row < grid_.RowCount(); ++row) {
    for (int col = 0; col < grid_.ColCount(); ++col) {
      RECT cell = ToRect(CellBounds(grid_, col, row, gdi_.Scale()));
      if (cell.left >= client.right || cell.top >= client.bottom) continue;
      const bool fixed = col < grid_.FixedCols() || row < grid_.FixedRows();
      const bool current = !fixed && col == grid_.Col() && row == grid_.Row();
      if (fixed) {
        FillRect(dc, &cell, gdi_.BrushFor(grid_.FixedCellColor(col, row)));
        DrawEdge(dc, &cell, BDR_RAISEDINNER, BF_RECT);
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      } else if (current) {
        FillRect(dc, &cell, gdi_.BrushFor(kSystemColor | COLOR_HIGHLIGHT));
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
      } else {
        FillRect(dc, &cell, gdi_.BrushFor(grid_.GetColor()));
        SetTextColor(dc, text);
      }
      const std::string& value = grid_.Cell(col, row);
      RECT inner{cell.left + gdi_.Scale()(2), cell.top, cell.right - 1, cell.bottom};
      DrawTextA(dc, value.data(), static_cast<int>(value.size()), &inner,
                DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX | DT_END_ELLIPSIS);
      if (current && GetFocus() == hwnd_) DrawFocusRect(dc, &cell);
    }
  }
  SelectObject(dc, oldFont);
}

}  // namespace qv::ui
