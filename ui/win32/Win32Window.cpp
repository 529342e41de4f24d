#include "ui/win32/Win32Window.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ui/win32/DpiScale.h"
#include "ui/win32/GdiCache.h"
#include "ui/win32/GridWindow.h"
#include "ui/win32/Painting.h"

namespace qv::ui {

namespace {

constexpr const char* kFormClass = "QvForm";

// One window class per container kind, so whoever inspects the window tree can tell them apart;
// they share one window procedure.
struct ContainerClass {
  ControlKind kind;
  const char* name;
};
constexpr ContainerClass kContainerClasses[] = {
    {ControlKind::Panel, "QvPanel"},
    {ControlKind::GroupBox, "QvGroupBox"},
    {ControlKind::PageControl, "QvPageControl"},
    {ControlKind::TabSheet, "QvTabSheet"},
    {ControlKind::Image, "QvImage"},
};

constexpr int kFirstControlId = 100;
// A drop-down combo box's window includes its list.
constexpr int kComboDropHeight = 200;
constexpr UINT_PTR kSubclassId = 2;

const char* ContainerClassOf(ControlKind kind) {
  for (const ContainerClass& c : kContainerClasses) {
    if (c.kind == kind) return c.name;
  }
  return nullptr;
}

std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

bool IsButtonKind(ControlKind kind) {
  return kind == ControlKind::Button || kind == ControlKind::BitBtn ||
         kind == ControlKind::CheckBox || kind == ControlKind::RadioButton;
}

bool IsEditKind(ControlKind kind) {
  return kind == ControlKind::Edit || kind == ControlKind::LabeledEdit;
}

// The density the desktop gives the process: the real one for a program that declares itself
// aware of it (the window programs' manifest does), 96 for one that does not.
int SystemDpi() {
  HDC screen = GetDC(nullptr);
  if (!screen) return kLayoutDpi;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kLayoutDpi;
}

// The density of the monitor a window is on. Looked up at run time: Windows before 10 (1607)
// lacks the call and knows only the system's density.
int WindowDpi(HWND hwnd, int fallback) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow =
      reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void (*)()>(
          GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  const int dpi = getDpiForWindow ? static_cast<int>(getDpiForWindow(hwnd)) : 0;
  return dpi > 0 ? dpi : fallback;
}

// Marks native changes made to mirror the model, so their notifications are not taken for
// user input.
class MirrorScope {
 public:
  explicit MirrorScope(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
  MirrorScope(const MirrorScope&) = delete;
  MirrorScope& operator=(const MirrorScope&) = delete;
  ~MirrorScope() { flag_ = before_; }

 private:
  bool& flag_;
  bool before_;
};

}  // namespace

class Win32Window::Impl {
 public:
  Impl(Win32Window& owner, Form& form, EventDispatcher& dispatcher);
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl();

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR data);

  HWND NativeOf(const Control& control) const {
    const auto found = natives_.find(&control);
    return found != natives_.end() ? found->second.hwnd : nullptr;
  }

  // A navigation key of this window's message loop; true when it moved the focus or the page.
  bool HandleKey(const MSG& msg);

  HWND window = nullptr;
  bool closed = false;

 private:
  struct Native {
    HWND hwnd = nullptr;
    HWND label = nullptr;  // the label of a labelled edit
  };

  static void RegisterClasses(HINSTANCE instance);
  void CreateNative(Control& control, int id);
  HWND ParentHandle(const Control& control) const;
  Control* Lookup(HWND hwnd) const;
  bool NativeVisible(const Control& control) const;

  LRESULT HandleWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleControl(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint(HDC dc, HWND hwnd, const Control& control);
  void OnCommand(WPARAM wParam, LPARAM lParam);
  void OnScroll(WPARAM wParam, HWND from);
  LRESULT OnCtlColor(HWND parent, UINT message, WPARAM wParam, LPARAM lParam);
  void OnTabClick(PageControl& pages, int x, int y);

  void CollectTabStops(const Control& parent, std::vector<HWND>& stops) const;
  bool TakesInput(HWND hwnd) const;
  bool PassedOverRadio(const Control& radio) const;
  void MoveFocus(bool back);
  void StepRadio(const Control& radio, bool back);
  void StepPage(bool back);
  void FocusControl(HWND hwnd);
  void ClickAsMouse(HWND button);

  void Mirror(Control& control, const Change& change);
  void Layout(const Control& control);
  void Rescale(int dpi, const RECT& suggested);
  void PlaceEditLabel(const LabeledEdit& edit, HWND label);
  void ShowPages(const PageControl& pages);
  void SyncText(const Control& control);
  void SyncItems(const ComboBox& combo);
  void SyncScroll(const ScrollBar& bar);
  void ArmTimer(std::size_t index);
  void Invalidate(const Control& control);
  LRESULT OnQueryEndSession();
  void WithdrawEndRefusal();

  Win32Window& owner_;
  Form& form_;
  EventDispatcher& dispatcher_;
  HINSTANCE instance_;
  GdiCache gdi_;
  std::unordered_map<const Control*, Native> natives_;
  std::unordered_map<HWND, Control*> controls_;
  std::unordered_map<const Control*, std::unique_ptr<GridWindow>> grids_;
  std::vector<Timer*> timers_;  // timer id = index + 1
  std::size_t observer_ = 0;
  bool mirroring_ = false;
  bool quitOnDestroy_ = false;
  bool endRefused_ = false;   // a reason to keep the session is registered with the system
  bool focusing_ = false;     // a radio button is taking the focus
  HWND lastFocus_ = nullptr;  // the focus when the window was deactivated, given back on return
};

Win32Window::Impl::Impl(Win32Window& owner, Form& form, EventDispatcher& dispatcher)
    : owner_(owner),
      form_(form),
      dispatcher_(dispatcher),
      instance_(GetModuleHandleA(nullptr)),
      gdi_(SystemDpi()) {
  RegisterClasses(instance_);
  const RECT b = gdi_.Scale().Of(form_.Bounds());
  window = CreateWindowExA(0, kFormClass, form_.Caption().c_str(),
                           WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, b.left, b.top, b.right - b.left,
                           b.bottom - b.top, nullptr, nullptr, instance_, this);
  if (!window) return;
  natives_[&form_].hwnd = window;
  controls_[window] = &form_;
  // Opened on a monitor of another density than the system's: the layout takes that one's
  // scale before any control is made.
  if (const int dpi = WindowDpi(window, gdi_.Scale().Dpi()); dpi != gdi_.Scale().Dpi()) {
    gdi_.SetDpi(dpi);
    Layout(form_);
  }

  int id = kFirstControlId;
  for (const auto& component : form_.Components()) {
    if (auto* timer = dynamic_cast<Timer*>(component.get())) {
      timers_.push_back(timer);
      ArmTimer(timers_.size() - 1);
      continue;
    }
    if (component->IsVisual()) CreateNative(*component, id++);
  }
  observer_ = form_.AddObserver(
      [this](Control& control, const Change& change) { Mirror(control, change); });
}

Win32Window::Impl::~Impl() {
  form_.RemoveObserver(observer_);
  if (window && IsWindow(window)) DestroyWindow(window);
}

void Win32Window::Impl::RegisterClasses(HINSTANCE instance) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.lpszClassName = kFormClass;
  // Registering twice (a second window in one process) fails harmlessly.
  RegisterClassExA(&wc);
  wc.hIcon = nullptr;
  for (const ContainerClass& c : kContainerClasses) {
    wc.lpszClassName = c.name;
    RegisterClassExA(&wc);
  }
  GridWindow::RegisterClass(instance);
}

HWND Win32Window::Impl::ParentHandle(const Control& control) const {
  if (!control.Parent()) return window;
  const auto found = natives_.find(control.Parent());
  return found != natives_.end() ? found->second.hwnd : window;
}

Control* Win32Window::Impl::Lookup(HWND hwnd) const {
  const auto found = controls_.find(hwnd);
  return found != controls_.end() ? found->second : nullptr;
}

bool Win32Window::Impl::NativeVisible(const Control& control) const {
  if (control.Kind() == ControlKind::TabSheet) {
    const auto* pages = dynamic_cast<const PageControl*>(control.Parent());
    return control.Visible() && pages && pages->ActivePage() == &control;
  }
  return control.Visible();
}

void Win32Window::Impl::CreateNative(Control& control, int id) {
  const RECT b = gdi_.Scale().Of(control.Bounds());
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  if (NativeVisible(control)) style |= WS_VISIBLE;
  if (!control.Enabled()) style |= WS_DISABLED;
  const char* windowClass = nullptr;
  bool subclass = false;

  switch (control.Kind()) {
    case ControlKind::Label:
      windowClass = "STATIC";
      style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
      break;
    case ControlKind::Button:
      windowClass = "BUTTON";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      subclass = true;
      break;
    case ControlKind::BitBtn:
      windowClass = "BUTTON";
      style |= BS_OWNERDRAW | WS_TABSTOP;
      subclass = true;
      break;
    // Not the automatic kinds: the model owns the checked state and tells us.
    case ControlKind::CheckBox:
      windowClass = "BUTTON";
      style |= BS_CHECKBOX | WS_TABSTOP;
      subclass = true;
      break;
    case ControlKind::RadioButton:
      windowClass = "BUTTON";
      style |= BS_RADIOBUTTON | WS_TABSTOP;
      subclass = true;
      break;
    case ControlKind::Edit:
    case ControlKind::LabeledEdit:
      windowClass = "EDIT";
      exStyle = WS_EX_CLIENTEDGE;
      style |= ES_AUTOHSCROLL | WS_TABSTOP;
      subclass = true;
      break;
    case ControlKind::ComboBox:
      windowClass = "COMBOBOX";
      style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP;
      break;
    case ControlKind::ScrollBar: {
      const auto& bar = static_cast<const ScrollBar&>(control);
      windowClass = "SCROLLBAR";
      style |= bar.GetScrollKind() == ScrollKind::Vertical ? SBS_VERT : SBS_HORZ;
      break;
    }
    case ControlKind::StringGrid: {
      auto& grid = static_cast<StringGrid&>(control);
      auto view = std::make_unique<GridWindow>(grid, dispatcher_, gdi_);
      HWND hwnd = view->Create(ParentHandle(control), id, style | WS_TABSTOP);
      if (!hwnd) return;
      natives_[&control].hwnd = hwnd;
      controls_[hwnd] = &control;
      grids_[&control] = std::move(view);
      SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      return;
    }
    default:
      windowClass = ContainerClassOf(control.Kind());
      style |= WS_CLIPCHILDREN;
      break;
  }
  if (!windowClass) return;

  HWND hwnd = CreateWindowExA(exStyle, windowClass, control.Caption().c_str(), style, b.left, b.top,
                              b.right - b.left, b.bottom - b.top, ParentHandle(control),
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, this);
  if (!hwnd) return;
  Native& native = natives_[&control];
  native.hwnd = hwnd;
  controls_[hwnd] = &control;
  // Later controls lie over earlier ones, as the model's creation order says.
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(gdi_.FontFor(control.GetFont())), FALSE);
  if (subclass)
    SetWindowSubclass(hwnd, ControlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));

  MirrorScope scope(mirroring_);
  if (auto* box = dynamic_cast<const CheckBox*>(&control)) {
    SendMessageA(hwnd, BM_SETCHECK, box->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  } else if (auto* combo = dynamic_cast<const ComboBox*>(&control)) {
    SyncItems(*combo);
  } else if (auto* bar = dynamic_cast<const ScrollBar*>(&control)) {
    SyncScroll(*bar);
  } else if (auto* edit = dynamic_cast<const LabeledEdit*>(&control)) {
    DWORD labelStyle = WS_CHILD | WS_CLIPSIBLINGS | SS_LEFTNOWORDWRAP | SS_NOPREFIX;
    if (control.Visible()) labelStyle |= WS_VISIBLE;
    if (!control.Enabled()) labelStyle |= WS_DISABLED;
    native.label = CreateWindowExA(0, "STATIC", edit->LabelCaption().c_str(), labelStyle, 0, 0, 0,
                                   0, ParentHandle(control), nullptr, instance_, nullptr);
    if (native.label) {
      controls_[native.label] = &control;
      SendMessageA(native.label, WM_SETFONT,
                   reinterpret_cast<WPARAM>(gdi_.FontFor(form_.GetFont())), FALSE);
    }
  }
  Layout(control);
}

// ---- Messages

LRESULT CALLBACK Win32Window::Impl::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
  const LRESULT result = self->HandleWindow(hwnd, message, wParam, lParam);
  // What kept the session may have ended in this message (a click's handler returned, a tick).
  self->WithdrawEndRefusal();
  return result;
}

LRESULT CALLBACK Win32Window::Impl::ControlProc(HWND hwnd, UINT message, WPARAM wParam,
                                                LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, ControlProc, kSubclassId);
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
  return reinterpret_cast<Impl*>(data)->HandleControl(hwnd, message, wParam, lParam);
}

LRESULT Win32Window::Impl::HandleWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Control* self = Lookup(hwnd);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // painted whole in WM_PAINT
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (self) Paint(dc, hwnd, *self);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      if (self) Paint(reinterpret_cast<HDC>(wParam), hwnd, *self);
      return 0;
    case WM_COMMAND:
      OnCommand(wParam, lParam);
      return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (lParam) OnScroll(wParam, reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      return OnCtlColor(hwnd, message, wParam, lParam);
    // The font a container draws its caption in, as any window that shows text tells it.
    case WM_GETFONT:
      if (self) return reinterpret_cast<LRESULT>(gdi_.FontFor(self->GetFont()));
      break;
    // Moved to a monitor of another density, or the density changed: the same layout at the new
    // scale, in the place the system suggests (which keeps the window under the pointer).
    case WM_DPICHANGED:
      if (hwnd != window || !lParam) break;
      Rescale(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (Control* button = Lookup(item->hwndItem)) PaintGlyphButton(*item, *button, gdi_);
      return TRUE;
    }
    case WM_LBUTTONDOWN:
      if (auto* pages = dynamic_cast<PageControl*>(self)) {
        OnTabClick(*pages, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return 0;
      }
      break;
    // The common tab control's way of choosing a tab by its index among the shown tabs, so that
    // another program (an accessibility tool, a test driver) can choose one as a click would.
    case TCM_SETCURSEL:
      if (auto* pages = dynamic_cast<PageControl*>(self)) {
        const auto tabs = TabRects(*pages, gdi_);
        if (wParam >= tabs.size()) return -1;
        dispatcher_.SelectPage(*pages, *tabs[wParam].first);
        return 0;
      }
      break;
    case WM_TIMER:
      if (hwnd == window && wParam >= 1 && wParam <= timers_.size()) {
        dispatcher_.Tick(*timers_[wParam - 1]);
        return 0;
      }
      break;
    // The focus leaves with the window and comes back to the same control, as in a dialog box.
    case WM_ACTIVATE:
      if (hwnd != window) break;
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        lastFocus_ = focus && IsChild(window, focus) ? focus : nullptr;
      } else if (lastFocus_ && IsChild(window, lastFocus_) && IsWindowVisible(lastFocus_)) {
        SetFocus(lastFocus_);
        return 0;
      }
      break;
    case WM_QUERYENDSESSION:
      if (hwnd != window) break;
      return OnQueryEndSession();
    case WM_CLOSE:
      if (hwnd != window) break;
      if (owner_.OnCloseQuery && !owner_.OnCloseQuery()) return 0;
      quitOnDestroy_ = true;
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      if (hwnd != window) break;
      closed = true;
      for (std::size_t i = 0; i < timers_.size(); ++i) KillTimer(hwnd, i + 1);
      if (quitOnDestroy_) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      if (hwnd == window) window = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT Win32Window::Impl::HandleControl(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Control* control = Lookup(hwnd);
  if (!control) return DefSubclassProc(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_KEYDOWN:
      if (IsEditKind(control->Kind())) {
        dispatcher_.KeyDown(*control, static_cast<std::uint16_t>(wParam), CurrentShift());
      }
      // Enter presses a push button once per press (a held key repeats nothing).
      if (wParam == VK_RETURN &&
          (control->Kind() == ControlKind::Button || control->Kind() == ControlKind::BitBtn)) {
        if (!(lParam & (1L << 30))) ClickAsMouse(hwnd);
        return 0;
      }
      break;
    case WM_SETFOCUS:
      if (control->Kind() == ControlKind::RadioButton) {
        MirrorScope scope(focusing_);
        return DefSubclassProc(hwnd, message, wParam, lParam);
      }
      break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      if (!IsButtonKind(control->Kind())) break;
      // The button's own handling clicks it first; the mouse-up event comes after the click.
      const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      const MouseButton button = message == WM_LBUTTONUP   ? MouseButton::Left
                                 : message == WM_RBUTTONUP ? MouseButton::Right
                                                           : MouseButton::Middle;
      dispatcher_.MouseUp(*control, button, CurrentShift(), static_cast<short>(LOWORD(lParam)),
                          static_cast<short>(HIWORD(lParam)));
      return result;
    }
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

void Win32Window::Impl::Paint(HDC dc, HWND hwnd, const Control& control) {
  RECT client;
  GetClientRect(hwnd, &client);
  switch (control.Kind()) {
    case ControlKind::Panel:
      PaintPanel(dc, client, static_cast<const Panel&>(control), gdi_);
      break;
    case ControlKind::GroupBox:
      PaintGroupBox(dc, client, static_cast<const GroupBox&>(control), gdi_);
      break;
    case ControlKind::PageControl:
      PaintPageControl(dc, client, static_cast<const PageControl&>(control), gdi_);
      break;
    case ControlKind::Image:
      PaintImage(dc, client, gdi_);
      break;
    default:  // the form and tab sheets
      FillRect(dc, &client, gdi_.BrushFor(control.GetColor()));
      break;
  }
}

void Win32Window::Impl::OnCommand(WPARAM wParam, LPARAM lParam) {
  HWND from = reinterpret_cast<HWND>(lParam);
  Control* control = from ? Lookup(from) : nullptr;
  if (!control) return;
  // Only the control's own notifications: a command of another origin naming a control (the
  // dialog manager's IDOK for a focused window) is not its click.
  if (LOWORD(wParam) != GetDlgCtrlID(from)) return;
  const UINT code = HIWORD(wParam);
  if (IsButtonKind(control->Kind())) {
    // A radio button reports a click when it takes the focus; the focus alone chooses nothing
    // (a mouse click reports its own when the button is released, an arrow key clicks itself).
    if (code == BN_CLICKED && !(focusing_ && control->Kind() == ControlKind::RadioButton)) {
      dispatcher_.Click(*control);
    }
  } else if (IsEditKind(control->Kind())) {
    if (code == EN_CHANGE && !mirroring_) {
      dispatcher_.TypeText(*control, WindowText(from));
      // Dropped input (a disabled group) leaves the model's text: show that again.
      SyncText(*control);
    }
  } else if (auto* combo = dynamic_cast<ComboBox*>(control)) {
    if (code == CBN_SELCHANGE && !mirroring_) {
      dispatcher_.SelectItem(*combo, static_cast<int>(SendMessageA(from, CB_GETCURSEL, 0, 0)));
      SyncItems(*combo);
    } else if (code == CBN_EDITCHANGE && !mirroring_) {
      dispatcher_.TypeText(*combo, WindowText(from));
      SyncText(*combo);
    }
  }
}

void Win32Window::Impl::OnScroll(WPARAM wParam, HWND from) {
  auto* bar = dynamic_cast<ScrollBar*>(Lookup(from));
  if (!bar) return;
  int position = bar->Position();
  switch (LOWORD(wParam)) {
    case SB_LINELEFT:
    case SB_PAGELEFT:
      --position;
      break;
    case SB_LINERIGHT:
    case SB_PAGERIGHT:
      ++position;
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO info{};
      info.cbSize = sizeof(info);
      info.fMask = SIF_TRACKPOS;
      if (GetScrollInfo(from, SB_CTL, &info)) position = info.nTrackPos;
      break;
    }
    case SB_LEFT:
      position = bar->Min();
      break;
    case SB_RIGHT:
      position = bar->Max();
      break;
    default:
      return;
  }
  dispatcher_.Scroll(*bar, std::clamp(position, bar->Min(), std::max(bar->Min(), bar->Max())));
  SyncScroll(*bar);
}

LRESULT Win32Window::Impl::OnCtlColor(HWND parent, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND from = reinterpret_cast<HWND>(lParam);
  HDC dc = reinterpret_cast<HDC>(wParam);
  const Control* control = Lookup(from);
  if (!control) return DefWindowProcA(parent, message, wParam, lParam);
  Color background = control->GetColor();
  Color text = control->GetFont().color;
  const auto native = natives_.find(control);
  const bool isEditLabel = native != natives_.end() && native->second.label == from;
  if (isEditLabel || control->Kind() == ControlKind::Label) {
    // Labels show through to what they sit on.
    const Control* below = control->Parent() ? control->Parent() : &form_;
    background = control->Kind() == ControlKind::Label ? BackgroundOf(*control) : below->GetColor();
    if (isEditLabel) text = form_.GetFont().color;
  } else if (IsEditKind(control->Kind()) && !IsWindowEnabled(from)) {
    background = clBtnFace;
  }
  SetTextColor(dc, ResolveColor(text));
  SetBkColor(dc, ResolveColor(background));
  return reinterpret_cast<LRESULT>(gdi_.BrushFor(background));
}

void Win32Window::Impl::OnTabClick(PageControl& pages, int x, int y) {
  for (const auto& [page, rect] : TabRects(pages, gdi_)) {
    const POINT point{x, y};
    if (PtInRect(&rect, point)) {
      dispatcher_.SelectPage(pages, *page);
      return;
    }
  }
}

// ---- The keyboard

// Tab walks the controls in the layout's order rather than the dialog manager's: that follows
// the windows' stacking, in which later controls lie over earlier ones, so it would walk the
// layout backwards; and it stops on every radio button, whose focus selects it.
bool Win32Window::Impl::HandleKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || closed || !window || GetKeyState(VK_MENU) < 0) return false;
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const bool ctrl = GetKeyState(VK_CONTROL) < 0;
  const Control* focused = Lookup(GetFocus());
  switch (msg.wParam) {
    case VK_TAB:
      if (ctrl) {
        StepPage(shift);
      } else {
        MoveFocus(shift);
      }
      break;
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
      if (!focused || focused->Kind() != ControlKind::RadioButton || ctrl) return false;
      StepRadio(*focused, msg.wParam == VK_LEFT || msg.wParam == VK_UP);
      break;
    default:
      return false;
  }
  // From the first key on, the focus is drawn.
  SendMessageA(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  return true;
}

bool Win32Window::Impl::TakesInput(HWND hwnd) const {
  return hwnd && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd);
}

// A radio button is passed over when another of its group (the radio buttons of one parent) is
// the chosen one: Tab enters a group at its choice.
bool Win32Window::Impl::PassedOverRadio(const Control& radio) const {
  if (static_cast<const CheckBox&>(radio).Checked() || !radio.Parent()) return false;
  for (const Control* sibling : radio.Parent()->Children()) {
    if (sibling->Kind() == ControlKind::RadioButton &&
        static_cast<const CheckBox*>(sibling)->Checked() && TakesInput(NativeOf(*sibling))) {
      return true;
    }
  }
  return false;
}

// Depth first, each parent's children in their order; hidden or disabled containers (a page
// not shown, a group switched off) are left out whole.
void Win32Window::Impl::CollectTabStops(const Control& parent, std::vector<HWND>& stops) const {
  for (const Control* child : parent.Children()) {
    HWND hwnd = NativeOf(*child);
    if (!TakesInput(hwnd)) continue;
    if (GetWindowLongA(hwnd, GWL_STYLE) & WS_TABSTOP) {
      if (child->Kind() != ControlKind::RadioButton || !PassedOverRadio(*child)) {
        stops.push_back(hwnd);
      }
      continue;
    }
    CollectTabStops(*child, stops);
  }
}

void Win32Window::Impl::MoveFocus(bool back) {
  std::vector<HWND> stops;
  CollectTabStops(form_, stops);
  if (stops.empty()) return;
  // The focus may sit in a part of a control (the edit of a combo box).
  HWND focus = GetFocus();
  const auto at = std::find_if(stops.begin(), stops.end(), [focus](HWND stop) {
    return focus && (stop == focus || IsChild(stop, focus));
  });
  const std::size_t count = stops.size();
  std::size_t next = back ? count - 1 : 0;
  if (at != stops.end()) {
    const auto index = static_cast<std::size_t>(at - stops.begin());
    next = back ? (index + count - 1) % count : (index + 1) % count;
  }
  FocusControl(stops[next]);
}

// Arrows move the choice within the group, wrapping round, as a click on the next one would.
void Win32Window::Impl::StepRadio(const Control& radio, bool back) {
  std::vector<HWND> group;
  for (const Control* sibling : radio.Parent()->Children()) {
    HWND hwnd = NativeOf(*sibling);
    if (sibling->Kind() == ControlKind::RadioButton && TakesInput(hwnd)) group.push_back(hwnd);
  }
  const auto at = std::find(group.begin(), group.end(), NativeOf(radio));
  if (at == group.end() || group.size() < 2) return;
  const auto index = static_cast<std::size_t>(at - group.begin());
  HWND next = group[back ? (index + group.size() - 1) % group.size() : (index + 1) % group.size()];
  FocusControl(next);
  ClickAsMouse(next);
}

// Ctrl+Tab and Ctrl+Shift+Tab: the next or previous shown tab of the page control the focus is
// in, or else of the first one shown; the focus goes to the new page's first control.
void Win32Window::Impl::StepPage(bool back) {
  PageControl* pages = nullptr;
  for (Control* c = Lookup(GetFocus()); c && !pages; c = c->Parent()) {
    pages = dynamic_cast<PageControl*>(c);
  }
  if (!pages) {
    for (const auto& component : form_.Components()) {
      auto* candidate = dynamic_cast<PageControl*>(component.get());
      if (candidate && TakesInput(NativeOf(*candidate))) {
        pages = candidate;
        break;
      }
    }
  }
  if (!pages || !TakesInput(NativeOf(*pages))) return;
  const auto tabs = TabRects(*pages, gdi_);
  if (tabs.size() < 2) return;
  const auto at = std::find_if(tabs.begin(), tabs.end(), [pages](const auto& tab) {
    return tab.first == pages->ActivePage();
  });
  const std::size_t count = tabs.size();
  const std::size_t index = at != tabs.end() ? static_cast<std::size_t>(at - tabs.begin()) : 0;
  dispatcher_.SelectPage(*pages,
                         *tabs[back ? (index + count - 1) % count : (index + 1) % count].first);
  const TabSheet* shown = pages->ActivePage();
  if (!shown) return;
  std::vector<HWND> stops;
  CollectTabStops(*shown, stops);
  if (!stops.empty()) {
    FocusControl(stops.front());
  } else if (!TakesInput(GetFocus())) {
    SetFocus(window);
  }
}

void Win32Window::Impl::FocusControl(HWND hwnd) {
  SetFocus(hwnd);
  // An edit entered by the keyboard has its text chosen, ready to be typed over.
  if (const Control* control = Lookup(hwnd); control && IsEditKind(control->Kind())) {
    SendMessageA(hwnd, EM_SETSEL, 0, -1);
  }
}

// The notification a mouse click sends, so that a key takes the click's very path (and its
// refusals while an operation runs).
void Win32Window::Impl::ClickAsMouse(HWND button) {
  SendMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

LRESULT Win32Window::Impl::OnQueryEndSession() {
  const std::string reason = owner_.OnQueryEndSession ? owner_.OnQueryEndSession() : "";
  if (reason.empty()) return TRUE;
  // The system shows the reason beside the window while the user decides whether to end anyway.
  std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(
                        CP_UTF8, 0, reason.data(), static_cast<int>(reason.size()), nullptr, 0)),
                    L'\0');
  MultiByteToWideChar(CP_UTF8, 0, reason.data(), static_cast<int>(reason.size()), wide.data(),
                      static_cast<int>(wide.size()));
  ShutdownBlockReasonCreate(window, wide.c_str());
  endRefused_ = true;
  return FALSE;
}

void Win32Window::Impl::WithdrawEndRefusal() {
  if (!endRefused_ || !window) return;
  if (owner_.OnQueryEndSession && !owner_.OnQueryEndSession().empty()) return;
  ShutdownBlockReasonDestroy(window);
  endRefused_ = false;
}

// ---- Model to native

void Win32Window::Impl::Mirror(Control& control, const Change& change) {
  if (closed || !window) return;
  if (auto* timer = dynamic_cast<Timer*>(&control)) {
    const auto found = std::find(timers_.begin(), timers_.end(), timer);
    if (found != timers_.end()) ArmTimer(static_cast<std::size_t>(found - timers_.begin()));
    return;
  }
  const auto found = natives_.find(&control);
  if (found == natives_.end() || !found->second.hwnd) return;
  const Native native = found->second;
  HWND hwnd = native.hwnd;
  MirrorScope scope(mirroring_);

  switch (change.property) {
    case Property::Caption:
      SyncText(control);
      if (control.Kind() == ControlKind::Label) Layout(control);
      if (control.Kind() == ControlKind::TabSheet) Invalidate(*control.Parent());
      Invalidate(control);
      break;
    case Property::Enabled:
      EnableWindow(hwnd, control.Enabled());
      if (native.label) EnableWindow(native.label, control.Enabled());
      Invalidate(control);
      break;
    case Property::Visible:
      if (&control == &form_) break;  // the program shows the window
      if (auto* pages = dynamic_cast<const PageControl*>(control.Parent());
          pages && control.Kind() == ControlKind::TabSheet) {
        ShowPages(*pages);
        break;
      }
      ShowWindow(hwnd, control.Visible() ? SW_SHOWNA : SW_HIDE);
      if (native.label) ShowWindow(native.label, control.Visible() ? SW_SHOWNA : SW_HIDE);
      break;
    case Property::Checked:
      if (auto* box = dynamic_cast<const CheckBox*>(&control)) {
        SendMessageA(hwnd, BM_SETCHECK, box->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      }
      break;
    case Property::Color:
      RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      break;
    case Property::Font:
      SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(gdi_.FontFor(control.GetFont())),
                   TRUE);
      Layout(control);
      Invalidate(control);
      break;
    case Property::Bounds:
      Layout(control);
      break;
    case Property::Cell:
    case Property::CurrentCell:
      if (const auto grid = grids_.find(&control); grid != grids_.end()) {
        if (change.property == Property::Cell) {
          grid->second->Refresh(change.col, change.row);
        } else {
          grid->second->Refresh();
        }
      }
      break;
    case Property::Position:
      if (auto* bar = dynamic_cast<const ScrollBar*>(&control)) SyncScroll(*bar);
      break;
    case Property::Items:
      if (auto* combo = dynamic_cast<const ComboBox*>(&control)) SyncItems(*combo);
      break;
    case Property::ActivePage:
      if (auto* pages = dynamic_cast<const PageControl*>(&control)) ShowPages(*pages);
      break;
    case Property::TabVisible:
      if (control.Parent()) Invalidate(*control.Parent());
      break;
    case Property::LabelCaption:
      if (auto* edit = dynamic_cast<const LabeledEdit*>(&control); edit && native.label) {
        SetWindowTextA(native.label, edit->LabelCaption().c_str());
        PlaceEditLabel(*edit, native.label);
      }
      break;
    case Property::Hint:
    case Property::TimerSettings:
      break;
  }
}

void Win32Window::Impl::Layout(const Control& control) {
  const auto found = natives_.find(&control);
  if (found == natives_.end() || !found->second.hwnd) return;
  const RECT b = gdi_.Scale().Of(control.Bounds());
  int width = b.right - b.left;
  int height = b.bottom - b.top;
  if (&control == &form_) {
    MoveWindow(window, b.left, b.top, width, height, TRUE);
    return;
  }
  if (control.Kind() == ControlKind::Label) {
    // Labels size themselves to their text: a larger font never cuts its letters off.
    const SIZE text = gdi_.TextExtent(control.GetFont(), control.Caption());
    width = std::max(width, static_cast<int>(text.cx));
    height = std::max(height, static_cast<int>(text.cy));
  } else if (control.Kind() == ControlKind::ComboBox) {
    height += gdi_.Scale()(kComboDropHeight);
  }
  MoveWindow(found->second.hwnd, b.left, b.top, width, height, TRUE);
  if (found->second.label) {
    PlaceEditLabel(static_cast<const LabeledEdit&>(control), found->second.label);
  }
}

void Win32Window::Impl::PlaceEditLabel(const LabeledEdit& edit, HWND label) {
  const SIZE text = gdi_.TextExtent(form_.GetFont(), edit.LabelCaption());
  const RECT b = gdi_.Scale().Of(edit.Bounds());
  const int spacing = gdi_.Scale()(edit.LabelSpacing());
  const int width = static_cast<int>(text.cx);
  const int height = static_cast<int>(text.cy);
  if (edit.GetLabelPosition() == LabelPosition::Left) {
    MoveWindow(label, b.left - spacing - width, b.top + (b.bottom - b.top - height) / 2, width,
               height, TRUE);
  } else {
    MoveWindow(label, b.left, b.top - height - spacing, width, height, TRUE);
  }
}

void Win32Window::Impl::Rescale(int dpi, const RECT& suggested) {
  gdi_.SetDpi(dpi);
  MirrorScope scope(mirroring_);
  SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  for (const auto& [control, native] : natives_) {
    if (control == &form_ || !native.hwnd) continue;
    if (const auto grid = grids_.find(control); grid != grids_.end()) {
      grid->second->Rescale();
    } else {
      SendMessageA(native.hwnd, WM_SETFONT,
                   reinterpret_cast<WPARAM>(gdi_.FontFor(control->GetFont())), FALSE);
    }
    if (native.label) {
      SendMessageA(native.label, WM_SETFONT,
                   reinterpret_cast<WPARAM>(gdi_.FontFor(form_.GetFont())), FALSE);
    }
    Layout(*control);
  }
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Win32Window::Impl::ShowPages(const PageControl& pages) {
  for (const TabSheet* page : pages.Pages()) {
    const auto found = natives_.find(page);
    if (found == natives_.end() || !found->second.hwnd) continue;
    ShowWindow(found->second.hwnd, NativeVisible(*page) ? SW_SHOWNA : SW_HIDE);
  }
  Invalidate(pages);
}

void Win32Window::Impl::SyncText(const Control& control) {
  const auto found = natives_.find(&control);
  if (found == natives_.end() || !found->second.hwnd) return;
  HWND hwnd = found->second.hwnd;
  if (control.Kind() == ControlKind::StringGrid) return;
  if (WindowText(hwnd) == control.Caption()) return;
  MirrorScope scope(mirroring_);
  SetWindowTextA(hwnd, control.Caption().c_str());
}

void Win32Window::Impl::SyncItems(const ComboBox& combo) {
  const auto found = natives_.find(&combo);
  if (found == natives_.end() || !found->second.hwnd) return;
  HWND hwnd = found->second.hwnd;
  MirrorScope scope(mirroring_);
  SendMessageA(hwnd, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : combo.Items()) {
    SendMessageA(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  SendMessageA(hwnd, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
  if (WindowText(hwnd) != combo.Text()) SetWindowTextA(hwnd, combo.Text().c_str());
}

void Win32Window::Impl::SyncScroll(const ScrollBar& bar) {
  const auto found = natives_.find(&bar);
  if (found == natives_.end() || !found->second.hwnd) return;
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_RANGE | SIF_POS | SIF_PAGE;
  info.nMin = bar.Min();
  info.nMax = bar.Max();
  info.nPage = 0;
  info.nPos = bar.Position();
  SetScrollInfo(found->second.hwnd, SB_CTL, &info, TRUE);
}

void Win32Window::Impl::ArmTimer(std::size_t index) {
  const Timer& timer = *timers_[index];
  const UINT_PTR id = index + 1;
  KillTimer(window, id);
  if (timer.Enabled() && timer.Interval() > 0) SetTimer(window, id, timer.Interval(), nullptr);
}

void Win32Window::Impl::Invalidate(const Control& control) {
  const auto found = natives_.find(&control);
  if (found != natives_.end() && found->second.hwnd) {
    InvalidateRect(found->second.hwnd, nullptr, TRUE);
  }
}

// ---- The public face

Win32Window::Win32Window(Form& form, EventDispatcher& dispatcher)
    : impl_(std::make_unique<Impl>(*this, form, dispatcher)) {}

Win32Window::~Win32Window() = default;

void Win32Window::Show(int showCommand) {
  if (!impl_->window) return;
  ShowWindow(impl_->window, showCommand);
  UpdateWindow(impl_->window);
}

bool Win32Window::Closed() const {
  return impl_->closed || !impl_->window;
}

void* Win32Window::Handle() const {
  return impl_->window;
}

void* Win32Window::HandleOf(const Control& control) const {
  return impl_->NativeOf(control);
}

bool HandleNavigationKey(const void* message) {
  const MSG& msg = *static_cast<const MSG*>(message);
  if (msg.message != WM_KEYDOWN || !msg.hwnd) return false;
  HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  char className[32] = {};
  if (!root || !GetClassNameA(root, className, sizeof(className)) ||
      std::string_view(className) != kFormClass) {
    return false;
  }
  auto* impl = reinterpret_cast<Win32Window::Impl*>(GetWindowLongPtrA(root, GWLP_USERDATA));
  return impl && impl->HandleKey(msg);
}

}  // namespace qv::ui
