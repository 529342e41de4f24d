#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "app/AppState.h"
#include "app/Unit1.h"
#include "flash/CoreState.h"
#include "sim/SimSetup.h"
#include "tests/support/SimFixture.h"
#include "ui/ScriptedShell.h"

namespace qv::test {

// The window program as main builds it, over a simulated bus and a scripted shell: fresh state,
// the window, and its creation event already run.
class Window {
 public:
  explicit Window(int pixelsPerInch = 96, const std::string& setup = "", bool service = false)
      : sim_(ParseSetupOrFail(setup)), core(sim_.Bus(), sim_.Bus(), sim_.Clock()) {
    shell.pixelsPerInch = pixelsPerInch;
    app.ServiceMode = service;
    form = std::make_unique<TForm1>(app, core, shell);
    form->Create();
  }

  sim::SimBus& bus() { return sim_.Bus(); }
  ui::EventDispatcher& input() { return form->Dispatcher(); }
  sim::BusClock& clock() { return sim_.Clock(); }
  // Claims the devices the window sends to as the simulated window programs do, by their flash
  // files, in the name of `program`. Without it the window claims nothing.
  void ClaimDevicesAs(const std::string& program) {
    app.Ownership =
        DeviceOwnership([this](std::string_view path) { return sim_.ClaimKey(path); }, program);
  }

  // Lets `span` of virtual time pass in 1 ms steps, running every timer that falls due, as the
  // message loop would. The first call also schedules timers not seen before.
  void RunTimersFor(std::chrono::milliseconds span) {
    const auto end = clock().Now() + span;
    input().RunDueTimers(*form, clock().Now());
    while (clock().Now() < end) {
      clock().Advance(std::chrono::milliseconds(1));
      input().RunDueTimers(*form, clock().Now());
    }
  }

  template <class T>
  T& Get(const std::string& name) {
    auto* control = form->Find<T>(name);
    if (control == nullptr) throw std::runtime_error("no control " + name + " of that kind");
    return *control;
  }

 private:
  sim::Simulation sim_;

 public:
  ui::ScriptedShell shell;
  AppState app;
  CoreState core;
  std::unique_ptr<TForm1> form;
};

}  // namespace qv::test
