#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <tuple>
#include <type_traits>

#include "ui/Control.h"

namespace qv::ui {

// The system colour a model colour names, or the colour itself.
COLORREF ResolveColor(Color color);

// The fonts and brushes the window draws with, made once per distinct value and released with
// the cache.
class GdiCache {
 public:
  explicit GdiCache(int pixelsPerInchY) : pixelsPerInchY_(pixelsPerInchY) {}

  HFONT FontFor(const Font& font);
  HBRUSH BrushFor(Color color);

  // The height of one line of text in a font, in pixels.
  int LineHeight(const Font& font);
  // Width and height of a single line of text.
  SIZE TextExtent(const Font& font, const std::string& text);

 private:
  struct GdiDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
  };
  using Object = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiDeleter>;
  using FontKey = std::tuple<std::string, int, bool>;

  int pixelsPerInchY_;
  std::map<FontKey, Object> fonts_;
  std::map<COLORREF, Object> brushes_;
};

}  // namespace qv::ui
