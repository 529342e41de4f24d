#include "pages/ByteGrid.h"

#include "app/DeviceActivity.h"
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

namespace {

constexpr int kIdle = 0, kReading = 1;

}  // namespace

void ReadGrid(TForm1& form, ui::Button& button, const char* idleCaption, ByteView& view,
              const std::function<bool()>& prepare,
              const std::function<bool(std::uint8_t address, std::uint8_t& value)>& read) {
  QuorvexUsb& usb = form.core.UsbDevice;
  if (!usb.GetDeviceFound()) return;
  // A click while the grid is read stops it; the loop sees the flag at its next byte.
  if (button.Tag() == kReading) {
    button.SetTag(kIdle);
    button.SetCaption(idleCaption);
    return;
  }
  DeviceActivity activity(form.app);
  if (!activity) return;
  button.SetCaption("Stop");
  button.SetTag(kReading);
  usb.Open();
  const bool prepared = !prepare || prepare();
  for (int i = 0; i < 16; ++i) {
    for (int j = 0; j < 16; ++j) {
      if (button.Tag() != kReading) break;
      const auto address = static_cast<std::uint8_t>(i * 16 + j);
      const bool fresh = prepared && read(address, view.image[address]);
      view.unread[address] = !fresh;
      view.grid.SetCell(j + 1, i + 1, fresh ? ByteText(view.image[address]) : kUnreadCell);
      // Lets a click on "Stop" through between two bytes.
      form.shell.ProcessMessages();
    }
  }
  usb.Close();
  button.SetTag(kIdle);
  button.SetCaption(idleCaption);
}

void ShowByte(TForm1& form, ByteView& view, int col, int row, bool read) {
  const std::uint8_t address = CellAddress(col, row);
  view.unread[address] = !read;
  view.grid.SetCell(col, row, read ? ByteText(view.image[address]) : kUnreadCell);
  ShowBits(form, view.bitPrefix, read ? view.image[address] : 0);
}

void ShowValueLabel(ByteView& view, std::uint8_t address) {
  view.valueLabel.SetCaption(view.unread[address] ? std::string("= -- (not read)")
                                                  : "= 0x" + ByteText(view.image[address]));
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

void UndoBoxClick(ui::Control& box) {
  auto& checkBox = static_cast<ui::CheckBox&>(box);
  checkBox.SetChecked(!checkBox.Checked());
}

std::string ByteText(std::uint8_t value) {
  return FormatHex(value, 2);
}

std::uint8_t TypedByte(const std::string& text) {
  return static_cast<std::uint8_t>(ui::StrToInt("0x" + text) & 0xFF);
}

}  // namespace qv
