// The ISP page's "Flash Access Range" group.
#include <cstdint>

#include "app/Unit1.h"
#include "ui/Convert.h"

namespace qv {

namespace {

constexpr std::uint32_t kAllRangeSize = 0x8000;

// The edits hold kilobytes. Unsigned arithmetic keeps any typed value well defined: it wraps as
// a 32-bit address would.
std::uint32_t Kilobytes(const std::string& text) {
  return static_cast<std::uint32_t>(ui::StrToInt(text)) * 1024u;
}

}  // namespace

void TForm1::rbnRangeClick(ui::Control&) {
  const bool assign = rbnRange1->Checked();
  for (ui::Control* control :
       std::initializer_list<ui::Control*>{lbledISPStart, lbledISPRange, Label20, Label21}) {
    control->SetEnabled(assign);
  }
  if (!assign) {
    core.RangeStart = 0;
    core.RangeSize = kAllRangeSize;
    return;
  }
  ReadAssignedRange();
}

void TForm1::ReadAssignedRange() {
  // One after the other: a bad size text still leaves the new start in place.
  core.RangeStart = Kilobytes(lbledISPStart->Text());
  core.RangeSize = Kilobytes(lbledISPRange->Text());
}

std::pair<std::uint32_t, std::uint32_t> TForm1::OperationRange() const {
  const std::uint32_t start = rbnRange0->Checked() ? 0 : core.RangeStart;
  return {start, start + core.FlashImage.Length};
}

}  // namespace qv
