#pragma once

#include <windows.h>

#include <utility>
#include <vector>

#include "ui/Controls.h"
#include "ui/win32/GdiCache.h"

namespace qv::ui {

// How the window's own container classes and owner-drawn buttons look. Painting only: no state
// and no input.

// The colour a control's background shows: its own, or for a transparent label its parent's.
Color BackgroundOf(const Control& control);

void PaintPanel(HDC dc, const RECT& client, const Panel& panel, GdiCache& gdi);
void PaintGroupBox(HDC dc, const RECT& client, const GroupBox& box, GdiCache& gdi);
void PaintImage(HDC dc, const RECT& client, GdiCache& gdi);
void PaintPageControl(HDC dc, const RECT& client, const PageControl& pages, GdiCache& gdi);
// A button with a glyph beside its caption.
void PaintGlyphButton(const DRAWITEMSTRUCT& item, const Control& button, GdiCache& gdi);

// Where the painters put their texts, in device pixels: the width a glyph button's glyph, gap
// and caption take together (centred on the button), and the left edge of a group box's caption.
int GlyphButtonContentWidth(const DpiScale& scale, int captionWidth);
int GroupCaptionLeft(const DpiScale& scale);

// The tabs of the pages whose tab is visible, left to right, in client coordinates.
std::vector<std::pair<TabSheet*, RECT>> TabRects(const PageControl& pages, GdiCache& gdi);

}  // namespace qv::ui
