// The native window against the control model, in one process: model changes show natively,
// native input reaches the model through the dispatcher. Needs a display (run by
// scripts/wine-ui-test).
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ui/Form.h"
#include "ui/ScriptedShell.h"
#include "ui/win32/DpiScale.h"
#include "ui/win32/GridGeometry.h"
#include "ui/win32/Win32Shell.h"
#include "ui/win32/Win32Window.h"

namespace qv::ui {
namespace {

std::string TextOf(HWND hwnd) {
  char buffer[256] = {};
  GetWindowTextA(hwnd, buffer, sizeof(buffer));
  return buffer;
}

class RendererTest : public ::testing::Test {
 public:  // the table cases reach in from lambdas
  RendererTest() {
    form.SetBounds({10, 10, 400, 300});
    form.SetCaption("Layout caption");
    panel = &form.Place<Panel>(nullptr, "panel");
    panel->SetBounds({0, 0, 390, 120});
    label = &form.Place<Label>(panel, "label");
    label->SetBounds({8, 8, 60, 13});
    label->SetCaption("Ready");
    check = &form.Place<CheckBox>(panel, "check");
    check->SetBounds({8, 30, 80, 17});
    radioA = &form.Place<RadioButton>(panel, "radioA");
    radioA->SetBounds({100, 30, 60, 17});
    radioA->SetChecked(true);
    radioB = &form.Place<RadioButton>(panel, "radioB");
    radioB->SetBounds({170, 30, 60, 17});
    edit = &form.Place<LabeledEdit>(panel, "edit");
    edit->SetBounds({60, 60, 60, 21});
    edit->SetLabelCaption("VID:");
    combo = &form.Place<ComboBox>(panel, "combo");
    combo->SetBounds({140, 60, 100, 21});
    bar = &form.Place<ScrollBar>(panel, "bar");
    bar->SetBounds({250, 60, 100, 17});
    bar->SetRange(1, 5);
    group = &form.Place<GroupBox>(nullptr, "group");
    group->SetBounds({0, 120, 390, 60});
    group->SetEnabled(false);
    lockedEdit = &form.Place<Edit>(group, "lockedEdit");
    lockedEdit->SetBounds({8, 20, 60, 21});
    lockedEdit->SetText("E6A4");
    lockedCheck = &form.Place<CheckBox>(group, "lockedCheck");
    lockedCheck->SetBounds({80, 20, 60, 17});
    pages = &form.Place<PageControl>(nullptr, "pages");
    pages->SetBounds({0, 180, 390, 90});
    pageA = &form.Place<TabSheet>(pages, "pageA");
    pageA->SetCaption("First");
    pageA->SetBounds({4, 24, 380, 60});
    pageB = &form.Place<TabSheet>(pages, "pageB");
    pageB->SetCaption("Second");
    pageB->SetBounds({4, 24, 380, 60});
    pages->SetActivePage(pageB);
    grid = &form.Place<StringGrid>(pageA, "grid");
    grid->SetBounds({0, 0, 5 * 33 + 4, 4 * 21 + 4});
    grid->SetSize(5, 4);
    grid->SetDefaultCellSize(32, 20);
    grid->SetOptions(kGridEditing);
    timer = &form.Place<Timer>(nullptr, "timer");
    timer->SetInterval(0);

    check->OnMouseUp = [this](Control&, MouseButton, ShiftState, int, int) { ++mouseUps; };
    grid->OnKeyDown = [this](Control&, std::uint16_t& key, ShiftState) { lastGridKey = key; };
    timer->OnTimer = [this](Control&) { ++ticks; };

    window = std::make_unique<Win32Window>(form, dispatcher);
    window->Show();
  }

  HWND Native(const Control& control) const { return static_cast<HWND>(window->HandleOf(control)); }
  HWND Main() const { return static_cast<HWND>(window->Handle()); }
  // The window's scale: 1 on the desktop the tests usually see, whatever it is on this one.
  DpiScale Scale() const { return DpiScale(static_cast<int>(GetDpiForWindow(Main()))); }
  // A control's window in its parent's client coordinates.
  RECT PlacedAt(const Control& control) const {
    RECT r{};
    GetWindowRect(Native(control), &r);
    MapWindowPoints(nullptr, GetParent(Native(control)), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

  ScriptedShell shell;
  EventDispatcher dispatcher{shell};
  Form form{"Form1"};
  Panel* panel;
  Label* label;
  CheckBox* check;
  RadioButton* radioA;
  RadioButton* radioB;
  LabeledEdit* edit;
  ComboBox* combo;
  ScrollBar* bar;
  GroupBox* group;
  Edit* lockedEdit;
  CheckBox* lockedCheck;
  PageControl* pages;
  TabSheet* pageA;
  TabSheet* pageB;
  StringGrid* grid;
  Timer* timer;
  int mouseUps = 0;
  int ticks = 0;
  std::uint16_t lastGridKey = 0;
  std::unique_ptr<Win32Window> window;
};

TEST_F(RendererTest, ModelChangesShowNatively) {
  struct Case {
    const char* what;
    std::function<void(RendererTest&)> change;
    std::function<bool(RendererTest&)> shown;
  };
  const Case cases[] = {
      {"form caption", [](RendererTest& t) { t.form.SetCaption("Title"); },
       [](RendererTest& t) { return TextOf(t.Main()) == "Title"; }},
      {"form outer size",
       [](RendererTest& t) {
         t.form.SetWidth(606);
         t.form.SetHeight(200);
       },
       [](RendererTest& t) {
         RECT r{};
         GetWindowRect(t.Main(), &r);
         const RECT wanted = t.Scale().Of({10, 10, 606, 200});
         return r.right - r.left == wanted.right - wanted.left &&
                r.bottom - r.top == wanted.bottom - wanted.top;
       }},
      {"label caption", [](RendererTest& t) { t.label->SetCaption("Find Device"); },
       [](RendererTest& t) { return TextOf(t.Native(*t.label)) == "Find Device"; }},
      {"button disabled", [](RendererTest& t) { t.check->SetEnabled(false); },
       [](RendererTest& t) { return !IsWindowEnabled(t.Native(*t.check)); }},
      {"hidden control", [](RendererTest& t) { t.label->SetVisible(false); },
       [](RendererTest& t) { return !IsWindowVisible(t.Native(*t.label)); }},
      {"checked from code", [](RendererTest& t) { t.check->SetChecked(true); },
       [](RendererTest& t) {
         return SendMessageA(t.Native(*t.check), BM_GETCHECK, 0, 0) == BST_CHECKED;
       }},
      {"radio group", [](RendererTest& t) { t.radioB->SetChecked(true); },
       [](RendererTest& t) {
         return SendMessageA(t.Native(*t.radioA), BM_GETCHECK, 0, 0) == BST_UNCHECKED &&
                SendMessageA(t.Native(*t.radioB), BM_GETCHECK, 0, 0) == BST_CHECKED;
       }},
      {"edit text", [](RendererTest& t) { t.edit->SetText("f800"); },
       [](RendererTest& t) { return TextOf(t.Native(*t.edit)) == "f800"; }},
      {"combo items",
       [](RendererTest& t) {
         t.combo->SetItems({"a.hex", "b.bin"});
         t.combo->SetItemIndex(1);
       },
       [](RendererTest& t) {
         HWND h = t.Native(*t.combo);
         return SendMessageA(h, CB_GETCOUNT, 0, 0) == 2 && SendMessageA(h, CB_GETCURSEL, 0, 0) == 1;
       }},
      {"scroll position", [](RendererTest& t) { t.bar->SetPosition(4); },
       [](RendererTest& t) { return GetScrollPos(t.Native(*t.bar), SB_CTL) == 4; }},
      {"active page", [](RendererTest& t) { t.pages->SetActivePage(t.pageA); },
       [](RendererTest& t) {
         return IsWindowVisible(t.Native(*t.pageA)) && !IsWindowVisible(t.Native(*t.pageB));
       }},
      {"hidden page control", [](RendererTest& t) { t.pages->SetVisible(false); },
       [](RendererTest& t) {
         return !IsWindowVisible(t.Native(*t.pages)) && !IsWindowVisible(t.Native(*t.grid));
       }},
  };
  for (const Case& c : cases) {
    c.change(*this);
    EXPECT_TRUE(c.shown(*this)) << c.what;
  }
}

TEST_F(RendererTest, NativeInputReachesTheModel) {
  struct Case {
    const char* what;
    std::function<void(RendererTest&)> input;
    std::function<bool(RendererTest&)> happened;
  };
  const Case cases[] = {
      {"check box click toggles, then mouse-up",
       [](RendererTest& t) { SendMessageA(t.Native(*t.check), BM_CLICK, 0, 0); },
       [](RendererTest& t) {
         return t.check->Checked() && t.mouseUps == 1 &&
                SendMessageA(t.Native(*t.check), BM_GETCHECK, 0, 0) == BST_CHECKED;
       }},
      {"radio click checks it and unchecks its sibling",
       [](RendererTest& t) { SendMessageA(t.Native(*t.radioB), BM_CLICK, 0, 0); },
       [](RendererTest& t) {
         return t.radioB->Checked() && !t.radioA->Checked() &&
                SendMessageA(t.Native(*t.radioA), BM_GETCHECK, 0, 0) == BST_UNCHECKED;
       }},
      {"click in a disabled group is dropped",
       [](RendererTest& t) { SendMessageA(t.Native(*t.lockedCheck), BM_CLICK, 0, 0); },
       [](RendererTest& t) {
         return !t.lockedCheck->Checked() &&
                SendMessageA(t.Native(*t.lockedCheck), BM_GETCHECK, 0, 0) == BST_UNCHECKED;
       }},
      {"typing into an edit", [](RendererTest& t) { SetWindowTextA(t.Native(*t.edit), "1234"); },
       [](RendererTest& t) { return t.edit->Text() == "1234"; }},
      {"typing into a disabled group shows the model's text again",
       [](RendererTest& t) { SetWindowTextA(t.Native(*t.lockedEdit), "0000"); },
       [](RendererTest& t) {
         return t.lockedEdit->Text() == "E6A4" && TextOf(t.Native(*t.lockedEdit)) == "E6A4";
       }},
      {"scroll bar arrow",
       [](RendererTest& t) {
         SendMessageA(GetParent(t.Native(*t.bar)), WM_HSCROLL, SB_LINERIGHT,
                      reinterpret_cast<LPARAM>(t.Native(*t.bar)));
       },
       [](RendererTest& t) { return t.bar->Position() == 2; }},
      {"tab click",
       [](RendererTest& t) {
         SendMessageA(t.Native(*t.pages), WM_LBUTTONDOWN, MK_LBUTTON,
                      MAKELPARAM(t.Scale()(8), t.Scale()(10)));
       },
       [](RendererTest& t) { return t.pages->ActivePage() == t.pageA; }},
      {"grid cell click selects it",
       [](RendererTest& t) {
         const CellBox cell = CellBounds(*t.grid, 3, 2, t.Scale());
         SendMessageA(t.Native(*t.grid), WM_LBUTTONDOWN, MK_LBUTTON,
                      MAKELPARAM(cell.left + 4, cell.top + 4));
       },
       [](RendererTest& t) { return t.grid->Col() == 3 && t.grid->Row() == 2; }},
      {"typing over a grid cell edits it in place, Enter reaches the key event",
       [](RendererTest& t) {
         SendMessageA(t.Native(*t.grid), WM_CHAR, '7', 0);
         HWND editor = GetFocus();
         SendMessageA(editor, WM_CHAR, 'F', 0);
         SendMessageA(editor, WM_KEYDOWN, VK_RETURN, 0);
       },
       [](RendererTest& t) {
         return t.grid->Cell(3, 2) == "7F" && t.lastGridKey == VK_RETURN &&
                GetFocus() == t.Native(*t.grid);
       }},
      {"arrow key moves the current cell",
       [](RendererTest& t) { SendMessageA(t.Native(*t.grid), WM_KEYDOWN, VK_LEFT, 0); },
       [](RendererTest& t) { return t.grid->Col() == 2 && t.grid->Row() == 2; }},
  };
  for (const Case& c : cases) {
    c.input(*this);
    EXPECT_TRUE(c.happened(*this)) << c.what;
  }
}

TEST_F(RendererTest, LabelledEditLabelSitsLeftOfTheEdit) {
  HWND labelWindow = FindWindowExA(GetParent(Native(*edit)), nullptr, "Static", "VID:");
  ASSERT_NE(labelWindow, nullptr);
  RECT labelRect{};
  RECT editRect{};
  GetWindowRect(labelWindow, &labelRect);
  GetWindowRect(Native(*edit), &editRect);
  EXPECT_EQ(labelRect.right, editRect.left - edit->LabelSpacing());
  edit->SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(labelWindow));
}

// WM_DPICHANGED, as the desktop sends it when the window moves to a monitor of another scale:
// the same layout at the new scale, fonts and hit tests included.
TEST_F(RendererTest, MovedToAMonitorOfAnotherScaleTheLayoutFollows) {
  const int dpi = Scale().Dpi() * 3 / 2;
  const DpiScale after(dpi);
  RECT suggested{40, 30, 40 + after(400), 30 + after(300)};
  SendMessageA(Main(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));

  RECT placed{};
  GetWindowRect(Main(), &placed);
  EXPECT_TRUE(EqualRect(&placed, &suggested)) << "the window is not where the desktop said";
  for (const Control* control : std::initializer_list<const Control*>{
           panel, check, radioB, edit, bar, group, lockedEdit, pages, pageA, grid}) {
    const RECT wanted = after.Of(control->Bounds());
    const RECT r = PlacedAt(*control);
    EXPECT_TRUE(EqualRect(&r, &wanted))
        << control->Name() << " at " << r.left << "," << r.top << " " << r.right - r.left << " x "
        << r.bottom - r.top << ", expected " << wanted.left << "," << wanted.top << " "
        << wanted.right - wanted.left << " x " << wanted.bottom - wanted.top;
  }

  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Native(*label), WM_GETFONT, 0, 0)), sizeof(font),
             &font);
  EXPECT_EQ(font.lfHeight, -MulDiv(label->GetFont().size, dpi, 72)) << "the label's font";
  HWND labelWindow = FindWindowExA(GetParent(Native(*edit)), nullptr, "Static", "VID:");
  ASSERT_NE(labelWindow, nullptr);
  RECT labelRect{};
  GetWindowRect(labelWindow, &labelRect);
  MapWindowPoints(nullptr, GetParent(labelWindow), reinterpret_cast<POINT*>(&labelRect), 2);
  EXPECT_EQ(labelRect.right, PlacedAt(*edit).left - after(edit->LabelSpacing()));

  SendMessageA(Native(*pages), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(after(8), after(10)));
  EXPECT_EQ(pages->ActivePage(), pageA) << "the first tab at the new scale";
  const CellBox cell = CellBounds(*grid, 3, 2, after);
  SendMessageA(Native(*grid), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cell.left + 2, cell.top + 2));
  EXPECT_EQ((std::pair{grid->Col(), grid->Row()}), (std::pair{3, 2})) << "the cell clicked";
}

TEST_F(RendererTest, CloseAsksFirstAndEndsTheLoop) {
  window->OnCloseQuery = [] { return false; };
  SendMessageA(Main(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(window->Closed());
  window->OnCloseQuery = [] { return true; };
  SendMessageA(Main(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(window->Closed());
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  // Changes after the window is gone are ignored, not sent to stale handles.
  label->SetCaption("after");
}

TEST(Win32ShellText, ConvertsForTheCommonDialogsAndTheErrorBox) {
  using namespace std::string_literals;
  EXPECT_EQ(NativeFilter("Hex File|*.hex;*.h00|Binary File|*.bin"),
            "Hex File\0*.hex;*.h00\0Binary File\0*.bin\0\0"s);
  EXPECT_EQ(NativeFilter(""), "\0\0"s);
  struct Ext {
    const char* given;
    const char* native;
  };
  for (const Ext& e : {Ext{"*.hex", "hex"}, Ext{".bin", "bin"}, Ext{"bin", "bin"}, Ext{"", ""}}) {
    EXPECT_EQ(NativeDefaultExt(e.given), e.native) << e.given;
  }
  EXPECT_EQ(ExceptionText("'1x' is not a valid integer value"),
            "'1x' is not a valid integer value.");
  EXPECT_EQ(ExceptionText("Done."), "Done.");
  EXPECT_EQ(ExceptionText(""), "");
}

TEST(GridGeometry, HitTestAndMovesStayOnTheGrid) {
  StringGrid grid("grid");
  grid.SetSize(17, 17);
  grid.SetDefaultCellSize(32, 20);
  struct Hit {
    int dpi, x, y;
    std::optional<std::pair<int, int>> cell;
  };
  // At 144 dpi a cell and its line take 49.5 device pixels across and 31.5 down: column 1 covers
  // x 50 to 97, its line lies at 98, column 2 begins at 99.
  for (const Hit& h :
       {Hit{96, 0, 0, std::pair{0, 0}}, Hit{96, 32, 20, std::pair{0, 0}},
        Hit{96, 33, 21, std::pair{1, 1}}, Hit{96, 16 * 33 + 31, 16 * 21, std::pair{16, 16}},
        Hit{96, 17 * 33, 5, std::nullopt}, Hit{96, -1, 5, std::nullopt},
        Hit{144, 49, 31, std::pair{0, 0}}, Hit{144, 50, 32, std::pair{1, 1}},
        Hit{144, 98, 5, std::pair{1, 0}}, Hit{144, 99, 5, std::pair{2, 0}},
        Hit{144, 841, 535, std::pair{16, 16}}, Hit{144, 842, 5, std::nullopt}}) {
    EXPECT_EQ(CellAt(grid, h.x, h.y, DpiScale(h.dpi)), h.cell)
        << h.x << "," << h.y << " at " << h.dpi << " dpi";
  }
  const CellBox cell = CellBounds(grid, 1, 1, DpiScale(144));
  EXPECT_EQ((std::pair{cell.left, cell.right}), (std::pair{50, 98}));
  EXPECT_EQ((std::pair{cell.top, cell.bottom}), (std::pair{32, 62}));
  grid.SetCurrentCell(1, 1);
  EXPECT_EQ(MovedCell(grid, GridMove::Left), (std::pair{1, 1}));  // never onto a fixed cell
  EXPECT_EQ(MovedCell(grid, GridMove::End), (std::pair{16, 1}));
  grid.SetCurrentCell(16, 16);
  EXPECT_EQ(MovedCell(grid, GridMove::Down), (std::pair{16, 16}));
  EXPECT_EQ(MovedCell(grid, GridMove::PageUp), (std::pair{16, 1}));
}

}  // namespace
}  // namespace qv::ui
