#pragma once

#include <string>

#include "app/DeviceActivity.h"
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

}  // namespace qv
