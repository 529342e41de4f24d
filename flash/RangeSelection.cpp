// The ISP page's "Flash Access Range" group.
#include <cstdint>
#include <string>

#include "app/Unit1.h"
#include "flash/FlashOperations.h"
#include "ui/Convert.h"

namespace qv {

namespace {

constexpr std::uint32_t kAllRangeSize = 0x8000;
constexpr std::int64_t kAddressSpaceKilobytes = kFlashAddressSpace / 1024;

// The edits hold kilobytes, converted with the platform's integer syntax (a text that is no
// number raises the conversion error). Kept wide, so a negative or huge value is refused instead
// of wrapping into an address that looks valid.
std::int64_t Kilobytes(const std::string& text) {
  return ui::StrToInt(text);
}

std::string OutsideText(const char* what, std::int64_t kilobytes) {
  return std::string("Range Error: ") + what + " " + std::to_string(kilobytes) +
         " KB is outside 0 to " + std::to_string(kAddressSpaceKilobytes) + " KB";
}

}  // namespace

void TForm1::rbnRangeClick(ui::Control&) {
  // A running operation keeps the range it began with: a click meanwhile is undone, as the
  // edits' state still tells which range is in force.
  if (app.DeviceActivityRunning || app.UpdateBusy) {
    (lbledISPStart->Enabled() ? rbnRange1 : rbnRange0)->SetChecked(true);
    return;
  }
  const bool assign = rbnRange1->Checked();
  for (ui::Control* control :
       std::initializer_list<ui::Control*>{lbledISPStart, lbledISPRange, Label20, Label21}) {
    control->SetEnabled(assign);
  }
  if (!assign) {
    app.RangeError.clear();
    core.RangeStart = 0;
    core.RangeSize = kAllRangeSize;
    return;
  }
  ReadAssignedRange();
}

void TForm1::ReadAssignedRange() {
  // One after the other: a bad size text still leaves the new start in place. A value outside
  // the flash's address space leaves what it would have replaced, and the next operation is
  // refused with the reason.
  const std::int64_t start = Kilobytes(lbledISPStart->Text());
  if (start < 0 || start > kAddressSpaceKilobytes) {
    app.RangeError = OutsideText("Start Addr", start);
    return;
  }
  core.RangeStart = static_cast<std::uint32_t>(start * 1024);
  const std::int64_t size = Kilobytes(lbledISPRange->Text());
  if (size < 0 || size > kAddressSpaceKilobytes) {
    app.RangeError = OutsideText("Size", size);
    return;
  }
  if (start + size > kAddressSpaceKilobytes) {
    app.RangeError = "Range Error: " + std::to_string(start) + " KB + " + std::to_string(size) +
                     " KB is past the flash's " + std::to_string(kAddressSpaceKilobytes) + " KB";
    return;
  }
  core.RangeSize = static_cast<std::uint32_t>(size * 1024);
  app.RangeError.clear();
}

std::pair<std::uint32_t, std::uint32_t> TForm1::OperationRange() const {
  const std::uint32_t start = rbnRange0->Checked() ? 0 : core.RangeStart;
  return {start, start + core.FlashImage.Length};
}

bool TForm1::RangeRefused(bool withSectors) {
  std::optional<std::string> problem;
  if (rbnRange1->Checked() && !app.RangeError.empty()) problem = app.RangeError;
  const auto [start, end] = OperationRange();
  if (!problem) problem = OperationRangeProblem(start, end - start);
  if (!problem && withSectors && rbnRange1->Checked())
    problem = SectorRangeProblem(core.RangeStart, core.RangeSize);
  if (problem) lblUSBProcessInfo->SetCaption(*problem);
  return problem.has_value();
}

}  // namespace qv
