#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <tuple>
#include <type_traits>

#include "ui/Control.h"
#include "ui/win32/DpiScale.h"

namespace qv::ui {

// The system colour a model colour names, or the colour itself.
COLORREF ResolveColor(Color color);

// The fonts and brushes the window draws with, made once per distinct value and released with
// the cache, and the scale from layout units to the window's device pixels that they are made
// for.
class GdiCache {
 public:
  explicit GdiCache(int dpi) : scale_(dpi) {}

  const DpiScale& Scale() const { return scale_; }
  // The window moved to a monitor of another density: fonts asked for from now on are made for
  // it. Those made before stay valid until the cache goes, as controls may still hold them.
  void SetDpi(int dpi) { scale_ = DpiScale(dpi); }

  // The font at the current scale: a pixel height counts in layout units, a point size at the
  // window's density.
  HFONT FontFor(const Font& font);
  HBRUSH BrushFor(Color color);

  // The height of one line of text in a font, in device pixels.
  int LineHeight(const Font& font);
  // Width and height of a single line of text.
  SIZE TextExtent(const Font& font, const std::string& text);

 private:
  struct GdiDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
  };
  using Object = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiDeleter>;
  using FontKey = std::tuple<std::string, int, bool>;

  DpiScale scale_;
  std::map<FontKey, Object> fonts_;
  std::map<COLORREF, Object> brushes_;
};

}  // namespace qv::ui
