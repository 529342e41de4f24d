#include "tests/win32ui/TextFit.h"

#include <optional>

#include "ui/win32/DpiScale.h"
#include "ui/win32/Painting.h"

namespace qv::uitest {
namespace {

using ui::DpiScale;

// A push button draws a frame of two pixels and its focus rectangle one inside it; its text
// needs to stay clear of both.
constexpr int kPushMargin = 3;

class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  HDC Get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

std::string ClassOf(HWND hwnd) {
  char name[256] = {};
  GetClassNameA(hwnd, name, sizeof(name));
  return name;
}

std::string TextOf(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

bool IsClass(const std::string& windowClass, const char* name) {
  return _stricmp(windowClass.c_str(), name) == 0;
}

RECT ToScreen(HWND hwnd, RECT r) {
  MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

RECT ClientRect(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return r;
}

// What can be seen of a window: its rectangle cut by the client area of every parent up to the
// top-level window.
RECT VisibleRect(HWND hwnd, HWND top) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  for (HWND parent = GetParent(hwnd); parent; parent = GetParent(parent)) {
    const RECT client = ToScreen(parent, ClientRect(parent));
    IntersectRect(&r, &r, &client);
    if (parent == top) break;
  }
  return r;
}

bool Contains(const RECT& outer, const RECT& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

bool IsAncestor(HWND ancestor, HWND hwnd) {
  for (HWND parent = GetParent(hwnd); parent; parent = GetParent(parent))
    if (parent == ancestor) return true;
  return false;
}

// The text as its control's font draws it, and the font the control asked for beside the one the
// desktop gave.
struct Measured {
  SIZE size{0, 0};
  int halfDigit = 0;  // half the width of "0": the gap a check box keeps before its text
  std::string requested;
  std::string obtained;
};

Measured Measure(HWND hwnd, const std::string& text) {
  Measured m;
  const auto font = reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0));
  WindowDc dc(hwnd);
  if (!dc.Get()) return m;
  const HGDIOBJ old = SelectObject(dc.Get(), font ? font : GetStockObject(SYSTEM_FONT));
  GetTextExtentPoint32A(dc.Get(), text.data(), static_cast<int>(text.size()), &m.size);
  INT digit = 0;
  GetCharWidth32A(dc.Get(), '0', '0', &digit);
  m.halfDigit = digit / 2;
  char face[LF_FACESIZE] = {};
  GetTextFaceA(dc.Get(), sizeof(face), face);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc.Get(), &metrics);
  m.obtained = std::string(face) + ", " + std::to_string(metrics.tmHeight) + " px cell";
  LOGFONTA log{};
  if (font && GetObjectA(font, sizeof(log), &log)) {
    m.requested = std::string(log.lfFaceName) + ", " + std::to_string(-log.lfHeight) + " px" +
                  (log.lfWeight >= FW_BOLD ? " bold" : "");
  } else {
    m.requested = "(the system font)";
  }
  SelectObject(dc.Get(), old);
  return m;
}

// Where a control draws its text (client coordinates) and the part of it the text must stay in.
struct Placement {
  RECT text;
  RECT room;
};

RECT Box(int left, int top, SIZE size) {
  return RECT{left, top, left + size.cx, top + size.cy};
}

std::optional<Placement> Place(HWND hwnd, const std::string& windowClass, const Measured& m,
                               const DpiScale& scale) {
  const RECT client = ClientRect(hwnd);
  const int width = client.right;
  const int height = client.bottom;
  if (IsClass(windowClass, "Static")) return Placement{Box(0, 0, m.size), client};
  if (IsClass(windowClass, "Edit")) {
    const auto margins = static_cast<DWORD>(SendMessageA(hwnd, EM_GETMARGINS, 0, 0));
    const int left = LOWORD(margins);
    return Placement{Box(left, 0, m.size), RECT{0, 0, width - HIWORD(margins), height}};
  }
  if (IsClass(windowClass, "QvGroupBox"))
    return Placement{Box(ui::GroupCaptionLeft(scale), 0, m.size), client};
  if (!IsClass(windowClass, "Button")) return std::nullopt;

  RECT framed = client;
  InflateRect(&framed, -kPushMargin, -kPushMargin);
  switch (GetWindowLongA(hwnd, GWL_STYLE) & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
      return Placement{Box((width - m.size.cx) / 2, (height - m.size.cy) / 2, m.size), framed};
    case BS_OWNERDRAW: {
      // The glyph and the caption, centred together.
      const SIZE content{ui::GlyphButtonContentWidth(scale, m.size.cx), m.size.cy};
      return Placement{Box((width - content.cx) / 2, (height - content.cy) / 2, content), framed};
    }
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: {
      // After the box (12 layout pixels and one) and half a digit's width, as the desktop's
      // check boxes place their text.
      const int left = scale(12) + 1 + m.halfDigit + 1;
      return Placement{Box(left, (height - m.size.cy) / 2, m.size), client};
    }
    default:
      return std::nullopt;
  }
}

struct ShownWindow {
  HWND hwnd;
  std::string windowClass;
  std::string text;
  RECT visible;
  // What it shows, which another text must not cover: all it shows of itself, or for a label
  // only its text (a label's window may reach past it, showing nothing there).
  RECT occupied;
};

BOOL CALLBACK CollectShown(HWND hwnd, LPARAM param) {
  auto* shown = reinterpret_cast<std::vector<ShownWindow>*>(param);
  if (IsWindowVisible(hwnd)) shown->push_back({hwnd, ClassOf(hwnd), TextOf(hwnd), RECT{}, RECT{}});
  return TRUE;
}

std::string Describe(const ShownWindow& w) {
  if (IsClass(w.windowClass, "QvStringGrid")) return "the grid";
  if (w.text.empty()) return "a " + w.windowClass + " control";
  return "\"" + w.text + "\" (" + w.windowClass + ")";
}

std::string SizeText(const RECT& r) {
  return std::to_string(r.right - r.left) + " x " + std::to_string(r.bottom - r.top);
}

}  // namespace

void CheckTextFit(HWND window, const std::string& where, TextFitReport& report) {
  std::vector<ShownWindow> shown;
  EnumChildWindows(window, CollectShown, reinterpret_cast<LPARAM>(&shown));
  const DpiScale scale(static_cast<int>(GetDpiForWindow(window)));

  struct Text {
    const ShownWindow* window;
    Measured measured;
    RECT onScreen;
    bool fits;
  };
  std::vector<Text> texts;
  for (ShownWindow& w : shown) {
    w.visible = VisibleRect(w.hwnd, window);
    w.occupied = IsClass(w.windowClass, "Static") ? RECT{} : w.visible;
    // A grid's window text is its cells; the grid draws them itself.
    if (w.text.empty() || IsClass(w.windowClass, "QvStringGrid")) continue;
    Measured m = Measure(w.hwnd, w.text);
    const std::optional<Placement> placed = Place(w.hwnd, w.windowClass, m, scale);
    if (!placed) continue;
    const RECT onScreen = ToScreen(w.hwnd, placed->text);
    if (IsClass(w.windowClass, "Static")) IntersectRect(&w.occupied, &w.visible, &onScreen);
    texts.push_back({&w, std::move(m), onScreen, Contains(placed->room, placed->text)});
    if (!texts.back().fits) {
      report.problems.emplace("\"" + w.text + "\" (" + w.windowClass +
                                  ") does not fit: its text takes " + SizeText(placed->text) +
                                  " where the control has " + SizeText(placed->room),
                              where);
    }
  }

  for (const Text& t : texts) {
    const ShownWindow& w = *t.window;
    ++report.texts;
    report.fonts[t.measured.requested] = t.measured.obtained;
    const std::string name = "\"" + w.text + "\" (" + w.windowClass + ")";
    if (!Contains(w.visible, t.onScreen))
      report.problems.emplace(name + " is cut off by the control it lies in", where);
    for (const ShownWindow& other : shown) {
      if (other.hwnd == w.hwnd || IsAncestor(other.hwnd, w.hwnd)) continue;
      RECT overlap{};
      if (IntersectRect(&overlap, &t.onScreen, &other.occupied)) {
        report.problems.emplace(
            name + " covers " + Describe(other) + " by " + SizeText(overlap) + " pixels", where);
      }
    }
  }
}

}  // namespace qv::uitest
