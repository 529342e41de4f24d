#pragma once

#include <windows.h>

#include "ui/Control.h"

namespace qv::ui {

// The control model lays out in pixels of a 96-dpi screen; the window draws in the device pixels
// of its monitor. One scale turns the first into the second, for positions, sizes and fonts
// alike, so the window at 144 dpi is the same layout at 1.5 times.
inline constexpr int kLayoutDpi = 96;

class DpiScale {
 public:
  explicit DpiScale(int dpi = kLayoutDpi) : dpi_(dpi > 0 ? dpi : kLayoutDpi) {}

  int Dpi() const { return dpi_; }
  // A layout length or coordinate in device pixels, rounded to the nearest.
  int operator()(int layout) const { return MulDiv(layout, dpi_, kLayoutDpi); }
  // The edges are scaled, not the size: controls that meet in the layout meet at every scale.
  RECT Of(const Rect& r) const {
    return RECT{(*this)(r.left), (*this)(r.top), (*this)(r.left + r.width),
                (*this)(r.top + r.height)};
  }

 private:
  int dpi_;
};

}  // namespace qv::ui
