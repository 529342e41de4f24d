#include "ui/win32/Painting.h"

#include <string>

#include "ui/Form.h"

namespace qv::ui {

namespace {

// In layout units, like everything the model places.
constexpr int kTabHeight = 20;
constexpr int kTabPadding = 12;
constexpr int kTabInset = 2;
constexpr int kGroupCaptionLeft = 8;
constexpr int kGroupCaptionGap = 2;
constexpr int kGlyph = 14;
constexpr int kGlyphGap = 4;
constexpr int kFocusInset = 4;

void DrawCaption(HDC dc, RECT area, const Control& control, GdiCache& gdi, UINT format) {
  const std::string& text = control.Caption();
  if (text.empty()) return;
  HGDIOBJ old = SelectObject(dc, gdi.FontFor(control.GetFont()));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, control.EnabledForInput() ? ResolveColor(control.GetFont().color)
                                             : GetSysColor(COLOR_GRAYTEXT));
  DrawTextA(dc, text.data(), static_cast<int>(text.size()), &area,
            format | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
}

}  // namespace

int GlyphButtonContentWidth(const DpiScale& scale, int captionWidth) {
  return scale(kGlyph) + scale(kGlyphGap) + captionWidth;
}

int GroupCaptionLeft(const DpiScale& scale) {
  return scale(kGroupCaptionLeft) + scale(kGroupCaptionGap);
}

Color BackgroundOf(const Control& control) {
  if (const auto* label = dynamic_cast<const Label*>(&control); label && label->Transparent()) {
    if (control.Parent()) return control.Parent()->GetColor();
    if (control.Owner()) return control.Owner()->GetColor();
  }
  return control.GetColor();
}

void PaintPanel(HDC dc, const RECT& client, const Panel& panel, GdiCache& gdi) {
  RECT area = client;
  FillRect(dc, &area, gdi.BrushFor(panel.GetColor()));
  if (panel.Bordered()) {
    FrameRect(dc, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    InflateRect(&area, -1, -1);
  }
  switch (panel.BevelOuter()) {
    case Bevel::Raised:
      DrawEdge(dc, &area, BDR_RAISEDINNER, BF_RECT);
      break;
    case Bevel::Lowered:
      DrawEdge(dc, &area, BDR_SUNKENOUTER, BF_RECT);
      break;
    case Bevel::None:
      break;
  }
  DrawCaption(dc, area, panel, gdi, DT_CENTER | DT_VCENTER);
}

void PaintGroupBox(HDC dc, const RECT& client, const GroupBox& box, GdiCache& gdi) {
  FillRect(dc, &client, gdi.BrushFor(box.GetColor()));
  const DpiScale& scale = gdi.Scale();
  const int textHeight = gdi.LineHeight(box.GetFont());
  RECT frame = client;
  frame.top += textHeight / 2;
  DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  if (box.Caption().empty()) return;
  const SIZE extent = gdi.TextExtent(box.GetFont(), box.Caption());
  const int gap = scale(kGroupCaptionGap);
  const int left = GroupCaptionLeft(scale);
  RECT caption{left - gap, 0, left + extent.cx + gap, textHeight};
  FillRect(dc, &caption, gdi.BrushFor(box.GetColor()));
  caption.left = left;
  DrawCaption(dc, caption, box, gdi, DT_LEFT | DT_TOP);
}

void PaintImage(HDC dc, const RECT& client, GdiCache& gdi) {
  // The picture is ours to choose: a plain banner in the tool's colours.
  const int height = client.bottom - client.top;
  for (int y = 0; y < height; ++y) {
    const int shade = 0x30 + 0x60 * y / (height > 0 ? height : 1);
    RECT line{client.left, client.top + y, client.right, client.top + y + 1};
    FillRect(dc, &line, gdi.BrushFor(static_cast<Color>(RGB(0x10, shade / 2, shade))));
  }
  RECT frame = client;
  DrawEdge(dc, &frame, BDR_SUNKENOUTER, BF_RECT);
}

std::vector<std::pair<TabSheet*, RECT>> TabRects(const PageControl& pages, GdiCache& gdi) {
  const DpiScale& scale = gdi.Scale();
  std::vector<std::pair<TabSheet*, RECT>> tabs;
  int left = scale(kTabInset);
  for (TabSheet* page : pages.Pages()) {
    if (!page->TabVisible()) continue;
    const int width =
        static_cast<int>(gdi.TextExtent(pages.GetFont(), page->Caption()).cx) + scale(kTabPadding);
    tabs.push_back(
        {page, RECT{left, scale(kTabInset), left + width, scale(kTabInset + kTabHeight)}});
    left += width;
  }
  return tabs;
}

void PaintPageControl(HDC dc, const RECT& client, const PageControl& pages, GdiCache& gdi) {
  FillRect(dc, &client, gdi.BrushFor(pages.GetColor()));
  const auto tabs = TabRects(pages, gdi);
  RECT body = client;
  // Hidden tabs leave the pages where they are; only the strip above them stays empty.
  body.top += gdi.Scale()(kTabHeight);
  DrawEdge(dc, &body, EDGE_RAISED, BF_RECT);
  HGDIOBJ old = SelectObject(dc, gdi.FontFor(pages.GetFont()));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ResolveColor(pages.GetFont().color));
  for (const auto& [page, rect] : tabs) {
    RECT tab = rect;
    const bool active = page == pages.ActivePage();
    const int raise = gdi.Scale()(kTabInset);
    if (active) InflateRect(&tab, raise, raise);
    tab.bottom = body.top + (active ? raise : 0);
    FillRect(dc, &tab, gdi.BrushFor(pages.GetColor()));
    DrawEdge(dc, &tab, EDGE_RAISED, BF_LEFT | BF_TOP | BF_RIGHT);
    DrawTextA(dc, page->Caption().data(), static_cast<int>(page->Caption().size()), &tab,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  SelectObject(dc, old);
}

void PaintGlyphButton(const DRAWITEMSTRUCT& item, const Control& button, GdiCache& gdi) {
  HDC dc = item.hDC;
  RECT area = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  DrawFrameControl(dc, &area, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));

  // The glyph: a small folder, to the left of the caption.
  const DpiScale& scale = gdi.Scale();
  const SIZE text = gdi.TextExtent(button.GetFont(), button.Caption());
  const int glyph = scale(kGlyph);
  const int gap = scale(kGlyphGap);
  const int width = GlyphButtonContentWidth(scale, static_cast<int>(text.cx));
  const int shift = pressed ? scale(1) : 0;
  const int left = area.left + (area.right - area.left - width) / 2 + shift;
  const int top = area.top + (area.bottom - area.top - glyph) / 2 + shift;
  RECT back{left, top + scale(2), left + glyph, top + glyph};
  RECT flap{left, top, left + glyph / 2, top + scale(3)};
  const Color folder = disabled ? clGray : static_cast<Color>(RGB(0xE8, 0xC0, 0x40));
  FillRect(dc, &flap, gdi.BrushFor(folder));
  FillRect(dc, &back, gdi.BrushFor(folder));
  FrameRect(dc, &back, gdi.BrushFor(disabled ? clGray : static_cast<Color>(RGB(0x80, 0x60, 0))));

  RECT caption{left + glyph + gap, area.top + shift, area.right, area.bottom + shift};
  HGDIOBJ old = SelectObject(dc, gdi.FontFor(button.GetFont()));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, disabled ? GetSysColor(COLOR_GRAYTEXT) : ResolveColor(button.GetFont().color));
  DrawTextA(dc, button.Caption().data(), static_cast<int>(button.Caption().size()), &caption,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  if (item.itemState & ODS_FOCUS) {
    RECT focus = area;
    InflateRect(&focus, -scale(kFocusInset), -scale(kFocusInset));
    DrawFocusRect(dc, &focus);
  }
}

}  // namespace qv::ui
