#include "ui/win32/GdiCache.h"

namespace qv::ui {

COLORREF ResolveColor(Color color) {
  if (IsSystemColor(color)) return GetSysColor(static_cast<int>(color & ~kSystemColor));
  return static_cast<COLORREF>(color);
}

HFONT GdiCache::FontFor(const Font& font) {
  // The character height in pixels wins over the point size.
  const int height = font.pixels != 0 ? -scale_(font.pixels) : -MulDiv(font.size, scale_.Dpi(), 72);
  const FontKey key{font.name, height, font.bold};
  auto found = fonts_.find(key);
  if (found != fonts_.end()) return static_cast<HFONT>(found->second.get());

  LOGFONTA log{};
  log.lfHeight = height;
  log.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
  log.lfCharSet = DEFAULT_CHARSET;
  log.lfOutPrecision = OUT_DEFAULT_PRECIS;
  log.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  log.lfQuality = DEFAULT_QUALITY;
  log.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  font.name.copy(log.lfFaceName, LF_FACESIZE - 1);
  HFONT handle = CreateFontIndirectA(&log);
  if (!handle) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  fonts_.emplace(key, Object(handle));
  return handle;
}

HBRUSH GdiCache::BrushFor(Color color) {
  const COLORREF rgb = ResolveColor(color);
  auto found = brushes_.find(rgb);
  if (found != brushes_.end()) return static_cast<HBRUSH>(found->second.get());
  HBRUSH handle = CreateSolidBrush(rgb);
  if (!handle) return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  brushes_.emplace(rgb, Object(handle));
  return handle;
}

SIZE GdiCache::TextExtent(const Font& font, const std::string& text) {
  SIZE size{0, 0};
  HDC screen = GetDC(nullptr);
  if (!screen) return size;
  HGDIOBJ old = SelectObject(screen, FontFor(font));
  // The height of an empty text is still one line.
  const std::string measured = text.empty() ? " " : text;
  GetTextExtentPoint32A(screen, measured.data(), static_cast<int>(measured.size()), &size);
  if (text.empty()) size.cx = 0;
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  return size;
}

int GdiCache::LineHeight(const Font& font) {
  return static_cast<int>(TextExtent(font, "").cy);
}

}  // namespace qv::ui
