// The "Register" page: the 256 registers of the bank the chip has selected, one byte per
// request, with the value read back after every change.
#include "app/DeviceActivity.h"
#include "app/Unit1.h"
#include "chip/Registers.h"
#include "pages/ByteGrid.h"

namespace qv {
namespace {

// The chip gets this long between a write and its read-back.
constexpr std::uint32_t kKeyReadBackPauseMs = 1;
constexpr std::uint32_t kBitReadBackPauseMs = 3;

ByteView RegisterView(TForm1& form) {
  return {*form.RegStringGrid1, form.app.RegisterImage, form.app.RegisterUnread, "chkBit",
          *form.lblRegAddr,     *form.lblRegData};
}

// A write and its read-back in one open of the connection. The cell shows what the read-back
// brought, also after a failed write: that is the register's value now.
bool WriteAndReadBack(CoreState& core, std::uint8_t address, std::uint8_t& stored,
                      std::uint32_t pauseMs) {
  core.UsbDevice.Open();
  const ReadBack done = qv::WriteAndReadBack(core.UsbDevice, core.clock, address, &stored, pauseMs);
  core.UsbDevice.Close();
  return done.read;
}

}  // namespace

void TForm1::btnReadAllClick(ui::Control&) {
  ByteView view = RegisterView(*this);
  ReadGrid(*this, *btnReadAll, "Read Bank", view, nullptr,
           [this](std::uint8_t address, std::uint8_t& value) {
             return ReadRegister(core.UsbDevice, address, &value);
           });
}

void TForm1::RegStringGridSelectCell(ui::Control&, int ACol, int ARow, bool& CanSelect) {
  // Refused while another operation holds the connection: the selection stays where it was.
  DeviceActivity activity(app);
  if (!activity) {
    CanSelect = false;
    return;
  }
  ByteView view = RegisterView(*this);
  HighlightHeaders(view.grid, ACol, ARow);
  const std::uint8_t address = CellAddress(ACol, ARow);
  lblRegAddr->SetCaption("Reg 0x" + ByteText(address));
  core.UsbDevice.Open();
  const bool read = ReadRegister(core.UsbDevice, address, &app.RegisterImage[address]);
  core.UsbDevice.Close();
  ShowByte(*this, view, ACol, ARow, read);
  ShowValueLabel(view, address);
}

void TForm1::RegStringGridKeyDown(ui::Control&, std::uint16_t& Key, ui::ShiftState) {
  if (Key != ui::kKeyEnter && Key != ui::kKeyInsert && Key != ui::kKeyDelete) return;
  DeviceActivity activity(app);
  if (!activity) return;
  const int col = RegStringGrid1->Col();
  const int row = RegStringGrid1->Row();
  const std::uint8_t address = CellAddress(col, row);
  std::uint8_t& stored = app.RegisterImage[address];
  // A register not read has no value to step from: the byte left from before is not written.
  if (Key != ui::kKeyEnter && app.RegisterUnread[address]) return;
  if (Key == ui::kKeyEnter) {
    // A text that is no hexadecimal number raises the conversion error: nothing is sent.
    stored = TypedByte(RegStringGrid1->Cell(col, row));
  } else if (Key == ui::kKeyInsert && stored != 0xFF) {
    ++stored;
  } else if (Key == ui::kKeyDelete && stored != 0x00) {
    --stored;
  } else {
    return;
  }
  ByteView view = RegisterView(*this);
  ShowByte(*this, view, col, row, WriteAndReadBack(core, address, stored, kKeyReadBackPauseMs));
}

void TForm1::chkBit0MouseUp(ui::Control& Sender, ui::MouseButton, ui::ShiftState, int, int) {
  DeviceActivity activity(app);
  if (!activity) {
    UndoBoxClick(Sender);
    return;
  }
  const std::uint8_t value = CheckedBits(*this, "chkBit");
  const int col = RegStringGrid1->Col();
  const int row = RegStringGrid1->Row();
  const std::uint8_t address = CellAddress(col, row);
  std::uint8_t& stored = app.RegisterImage[address];
  stored = value;
  ByteView view = RegisterView(*this);
  ShowByte(*this, view, col, row, WriteAndReadBack(core, address, stored, kBitReadBackPauseMs));
  lblRegAddr->SetCaption("Reg 0x" + ByteText(address));
  ShowValueLabel(view, address);
}

}  // namespace qv
