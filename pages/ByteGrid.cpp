#include "pages/ByteGrid.h"

#include "ui/Convert.h"
#include "util/Text.h"

namespace qv {

std::uint8_t CellAddress(int col, int row) {
  return static_cast<std::uint8_t>((row - 1) * 16 + (col - 1));
}

void HighlightHeaders(ui::StringGrid& grid, int col, int row) {
  for (int r = 1; r <= grid.Row(); ++r) grid.SetFixedCellColor(0, r, ui::clBtnFace);
  for (int c = 1; c <= 16; ++c) grid.SetFixedCellColor(c, 0, ui::clBtnFace);
  grid.SetFixedCellColor(0, row, ui::clSilver);
  grid.SetFixedCellColor(col, 0, ui::clSilver);
}

void ShowBits(TForm1& form, const std::string& prefix, std::uint8_t value) {
  for (int bit = 0; bit < 8; ++bit) {
    if (auto* box = form.Find<ui::CheckBox>(prefix + std::to_string(bit)))
      box->SetChecked((value >> bit) & 1);
  }
}

std::uint8_t CheckedBits(TForm1& form, const std::string& prefix) {
  std::uint8_t value = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const auto* box = form.Find<ui::CheckBox>(prefix + std::to_string(bit));
    if (box && box->Checked()) value = static_cast<std::uint8_t>(value | (1u << bit));
  }
  return value;
}

std::string ByteText(std::uint8_t value) {
  return FormatHex(value, 2);
}

std::uint8_t TypedByte(const std::string& text) {
  return static_cast<std::uint8_t>(ui::StrToInt("0x" + text) & 0xFF);
}

}  // namespace qv
