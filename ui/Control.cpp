#include "ui/Control.h"

#include "ui/Form.h"

namespace qv::ui {

Control::Control(ControlKind kind, std::string name) : kind_(kind), name_(std::move(name)) {}

bool Control::IsVisual() const {
  return kind_ != ControlKind::Timer && kind_ != ControlKind::OpenDialog &&
         kind_ != ControlKind::SaveDialog;
}

void Control::SetCaption(std::string caption) {
  if (caption == caption_) return;
  caption_ = std::move(caption);
  Notify(Property::Caption);
}

void Control::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Notify(Property::Enabled);
}

void Control::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Notify(Property::Visible);
}

bool Control::EnabledForInput() const {
  for (const Control* c = this; c != nullptr; c = c->parent_) {
    if (!c->enabled_) return false;
  }
  return owner_ == nullptr || owner_->Enabled();
}

bool Control::Showing() const {
  for (const Control* c = this; c != nullptr; c = c->parent_) {
    if (!c->visible_) return false;
  }
  return true;
}

void Control::SetColor(Color color) {
  if (color == color_) return;
  color_ = color;
  Notify(Property::Color);
}

void Control::SetFont(const Font& font) {
  if (font == font_) return;
  font_ = font;
  Notify(Property::Font);
}

void Control::SetBounds(const Rect& bounds) {
  if (bounds == bounds_) return;
  bounds_ = bounds;
  Notify(Property::Bounds);
}

void Control::SetLeft(int left) {
  SetBounds({left, bounds_.top, bounds_.width, bounds_.height});
}
void Control::SetTop(int top) {
  SetBounds({bounds_.left, top, bounds_.width, bounds_.height});
}
void Control::SetWidth(int width) {
  SetBounds({bounds_.left, bounds_.top, width, bounds_.height});
}
void Control::SetHeight(int height) {
  SetBounds({bounds_.left, bounds_.top, bounds_.width, height});
}

void Control::SetHint(std::string hint) {
  if (hint == hint_) return;
  hint_ = std::move(hint);
  Notify(Property::Hint);
}

void Control::Click() {
  if (OnClick) OnClick(*this);
}

void Control::Notify(const Change& change) {
  if (OnChanged) OnChanged(*this, change);
  if (owner_ != nullptr) owner_->Broadcast(*this, change);
}

}  // namespace qv::ui
