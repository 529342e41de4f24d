#include "flash/FormProgress.h"

namespace qv {
namespace {

constexpr int kResultFontSize = 16;

}  // namespace

void RestyleLabel(ui::Label& label, int points, ui::Color color) {
  ui::Font font = label.GetFont();
  font.size = points;
  font.pixels = 0;
  font.color = color;
  label.SetFont(font);
}

void FormProgress::Show(Label label, const std::string& text) {
  switch (label) {
    case Label::kProcessInfo:
      form_.lblUSBProcessInfo->SetCaption(text);
      break;
    case Label::kProcessAddress:
      form_.lblUSBISPProcess->SetCaption(text);
      break;
    case Label::kStatusRegister:
      form_.lblUSBISPStatusReg->SetCaption(text);
      break;
  }
}

void FormProgress::Status(const std::string& text, Style style) {
  ui::Label& label = *form_.lblISPProcStatus;
  label.SetCaption(text);
  switch (style) {
    case Style::kNormal:
      break;
    case Style::kRetry:
      RestyleLabel(label, label.GetFont().size, ui::clRed);
      break;
    case Style::kSuccess:
      RestyleLabel(label, kResultFontSize, ui::clBlue);
      break;
    case Style::kFailure:
      RestyleLabel(label, kResultFontSize, ui::clRed);
      break;
  }
}

void FormProgress::RetryOver() {
  ui::Label& label = *form_.lblISPProcStatus;
  RestyleLabel(label, label.GetFont().size, ui::clWindowText);
}

}  // namespace qv
