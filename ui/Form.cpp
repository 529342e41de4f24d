#include "ui/Form.h"

#include <algorithm>

namespace qv::ui {

Form::Form(std::string name) : Control(ControlKind::Form, std::move(name)) {
  owner_ = this;
}

// Children go before their parents, so no control outlives what it points at.
Form::~Form() {
  observers_.clear();
  while (!components_.empty()) components_.pop_back();
}

void Form::Adopt(std::unique_ptr<Control> component, Control* parent) {
  component->owner_ = this;
  if (component->IsVisual()) {
    component->parent_ = parent;
    if (parent != nullptr)
      parent->children_.push_back(component.get());
    else
      children_.push_back(component.get());
    component->SetFont(GetFont());
  }
  components_.push_back(std::move(component));
}

Control* Form::FindComponent(std::string_view name) const {
  for (const auto& component : components_) {
    if (component->Name() == name) return component.get();
  }
  return nullptr;
}

std::size_t Form::AddObserver(ChangeObserver observer) {
  observers_.emplace_back(nextObserverId_, std::move(observer));
  return nextObserverId_++;
}

void Form::RemoveObserver(std::size_t id) {
  std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void Form::Broadcast(Control& control, const Change& change) {
  // A copy: an observer may add or remove observers.
  const auto observers = observers_;
  for (const auto& [id, observer] : observers) observer(control, change);
}

}  // namespace qv::ui
