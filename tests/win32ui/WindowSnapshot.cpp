#include "tests/win32ui/WindowSnapshot.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <fstream>

namespace qv::uitest {
namespace {

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
  auto* children = reinterpret_cast<std::vector<ChildWindow>*>(param);
  ChildWindow child;
  child.hwnd = hwnd;
  char buffer[512] = {};
  GetClassNameA(hwnd, buffer, sizeof(buffer));
  child.windowClass = buffer;
  child.text = WindowText(hwnd);
  child.visible = IsWindowVisible(hwnd) != FALSE;
  child.enabled = IsWindowEnabled(hwnd) != FALSE;
  children->push_back(std::move(child));
  return TRUE;
}

struct WindowQuery {
  DWORD processId;
  const char* windowClass;
  const char* caption;
  HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM param) {
  auto* query = reinterpret_cast<WindowQuery*>(param);
  DWORD processId = 0;
  GetWindowThreadProcessId(hwnd, &processId);
  if (processId != query->processId || !IsWindowVisible(hwnd)) return TRUE;
  if (query->windowClass) {
    char windowClass[256] = {};
    GetClassNameA(hwnd, windowClass, sizeof(windowClass));
    if (_stricmp(windowClass, query->windowClass) != 0) return TRUE;
  }
  if (WindowText(hwnd) != query->caption) return TRUE;
  query->found = hwnd;
  return FALSE;
}

struct DcReleaser {
  HWND hwnd;
  void operator()(HDC dc) const { ReleaseDC(hwnd, dc); }
};
struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};

template <class T>
void Put(std::vector<char>& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    out.push_back(static_cast<char>((static_cast<std::uint64_t>(value) >> (8 * i)) & 0xFF));
  }
}

}  // namespace

std::vector<ChildWindow> ChildWindows(HWND window) {
  std::vector<ChildWindow> children;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

const ChildWindow* FindChild(const std::vector<ChildWindow>& children, const std::string& text,
                             const char* windowClass) {
  for (const ChildWindow& child : children) {
    if (child.text == text &&
        (!windowClass || _stricmp(child.windowClass.c_str(), windowClass) == 0)) {
      return &child;
    }
  }
  return nullptr;
}

HWND FindProcessWindow(DWORD processId, const char* windowClass, const char* caption) {
  WindowQuery query{processId, windowClass, caption, nullptr};
  EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&query));
  return query.found;
}

std::string WindowText(HWND window) {
  char buffer[1024] = {};
  // WM_GETTEXT reaches into the other process, which GetWindowText does not for controls. A
  // bounded wait, so that a program busy in a long step delays a check but never hangs it.
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer),
                           SMTO_ABORTIFHUNG, 5000, &length)) {
    return {};
  }
  return std::string(buffer, std::min<std::size_t>(length, sizeof(buffer) - 1));
}

bool SaveWindowBitmap(HWND window, const std::string& path) {
  RECT outer{};
  GetWindowRect(window, &outer);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  if (width <= 0 || height <= 0) return false;

  std::unique_ptr<std::remove_pointer_t<HDC>, DcReleaser> screen(GetDC(nullptr), {nullptr});
  if (!screen) return false;
  std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter> memory(CreateCompatibleDC(screen.get()));
  std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, ObjectDeleter> bitmap(
      CreateCompatibleBitmap(screen.get(), width, height));
  if (!memory || !bitmap) return false;
  HGDIOBJ old = SelectObject(memory.get(), bitmap.get());

  // As the screen shows it: frame, client area and every control.
  if (!BitBlt(memory.get(), 0, 0, width, height, screen.get(), outer.left, outer.top, SRCCOPY)) {
    SelectObject(memory.get(), old);
    return false;
  }
  SelectObject(memory.get(), old);

  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as BMP files store rows
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const int stride = (width * 3 + 3) & ~3;
  std::vector<char> pixels(static_cast<std::size_t>(stride) * height);
  if (!GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, height, pixels.data(),
                 reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS)) {
    return false;
  }

  std::vector<char> file;
  const std::uint32_t offset = 14 + sizeof(header);
  Put<std::uint16_t>(file, 0x4D42);  // "BM"
  Put<std::uint32_t>(file, offset + static_cast<std::uint32_t>(pixels.size()));
  Put<std::uint32_t>(file, 0);
  Put<std::uint32_t>(file, offset);
  const char* headerBytes = reinterpret_cast<const char*>(&header);
  file.insert(file.end(), headerBytes, headerBytes + sizeof(header));
  file.insert(file.end(), pixels.begin(), pixels.end());
  std::ofstream out(path, std::ios::binary);
  out.write(file.data(), static_cast<std::streamsize>(file.size()));
  return out.good();
}

HWND ChildHandle(HWND window, const char* text, const char* windowClass) {
  const std::vector<ChildWindow> children = ChildWindows(window);
  const ChildWindow* child = FindChild(children, text, windowClass);
  return child ? child->hwnd : nullptr;
}

bool LabelShown(HWND window, const char* text) {
  const std::vector<ChildWindow> children = ChildWindows(window);
  const ChildWindow* child = FindChild(children, text, "Static");
  return child && child->visible;
}

void ChooseTab(HWND window, WPARAM index) {
  for (const ChildWindow& child : ChildWindows(window))
    if (child.windowClass == "QvPageControl") PostMessageA(child.hwnd, TCM_SETCURSEL, index, 0);
}

}  // namespace qv::uitest
