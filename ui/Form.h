#pragma once

#include <concepts>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Control.h"
#include "ui/Controls.h"

namespace qv::ui {

// A top-level window: owns every component placed on it, finds them by name and tells its
// observers about every property change of itself and of its components.
class Form : public Control {
 public:
  explicit Form(std::string name);
  ~Form() override;

  // Creates a component owned by this form. parent: the control it sits in, nullptr for the
  // form's client area; non-visual components (timers, dialogs) get no parent.
  template <std::derived_from<Control> T, class... Args>
  T& Place(Control* parent, Args&&... args) {
    auto component = std::make_unique<T>(std::forward<Args>(args)...);
    T& ref = *component;
    Adopt(std::move(component), parent);
    return ref;
  }

  // Every component in creation order (a parent always before its children).
  const std::vector<std::unique_ptr<Control>>& Components() const { return components_; }
  // nullptr when no component has that name.
  Control* FindComponent(std::string_view name) const;
  template <std::derived_from<Control> T>
  T* Find(std::string_view name) const {
    return dynamic_cast<T*>(FindComponent(name));
  }

  // Observers hear every change of the form and of its components. Returns an id for removal.
  std::size_t AddObserver(ChangeObserver observer);
  void RemoveObserver(std::size_t id);

  // Called by controls; not for general use.
  void Broadcast(Control& control, const Change& change);

 private:
  void Adopt(std::unique_ptr<Control> component, Control* parent);

  std::vector<std::unique_ptr<Control>> components_;
  std::vector<std::pair<std::size_t, ChangeObserver>> observers_;
  std::size_t nextObserverId_ = 1;
};

}  // namespace qv::ui
