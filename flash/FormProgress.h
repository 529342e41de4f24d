#pragma once

#include <string>

#include "app/Unit1.h"
#include "flash/UpdateSequence.h"

namespace qv {

// Gives a label a font size in points and a colour, as the update texts are shown.
void RestyleLabel(ui::Label& label, int points, ui::Color color);

// Shows the flash operations' progress in the window: the ISP page's three labels, the update
// panel's status line with its colours and sizes, and the message pump between steps.
class FormProgress : public UpdateProgress {
 public:
  explicit FormProgress(TForm1& form) : form_(form) {}

  void Show(Label label, const std::string& text) override;
  void Status(const std::string& text, Style style) override;
  void RetryOver() override;
  void ProcessMessages() override { form_.shell.ProcessMessages(); }

 private:
  TForm1& form_;
};

// Marks a flash operation or sequence as running for its lifetime. Operations open and close
// the one connection, so a second one started from the message pump inside the first would
// close the connection under it: such a click is ignored.
class FlashActivity {
 public:
  explicit FlashActivity(AppState& app) : app_(app), owner_(!app.FlashActivityRunning) {
    app_.FlashActivityRunning = 1;
  }
  FlashActivity(const FlashActivity&) = delete;
  FlashActivity& operator=(const FlashActivity&) = delete;
  ~FlashActivity() {
    if (owner_) app_.FlashActivityRunning = 0;
  }
  // False when another operation was already running: the caller returns at once.
  explicit operator bool() const { return owner_; }

 private:
  AppState& app_;
  bool owner_;
};

}  // namespace qv
