// The "I2C Access" page: the register view of the register page applied to a part on the chip's
// I2C bus, one single-byte register transfer per cell.
#include "app/DeviceActivity.h"
#include "app/Unit1.h"
#include "chip/I2cMaster.h"
#include "pages/ByteGrid.h"

namespace qv {
namespace {

// The slave gets this long between a write and its read-back; an EEPROM's write cycle needs
// the longer one after a bit toggle.
constexpr std::uint32_t kKeyReadBackPauseMs = 1;
constexpr std::uint32_t kBitReadBackPauseMs = 30;

ByteView I2cView(TForm1& form) {
  return {*form.StringGridMIIC, form.app.I2cImage,    form.app.I2cUnread,
          "chkMI2CBit",         *form.lblMI2CRegAddr, *form.lblMI2CRegData};
}

// Every action prepares the master itself after its open: the other pages select bank 0 in
// between, and an entry into the page while another operation ran prepared nothing. Without it
// a transfer would write bank 0's registers 0x10 to 0x14 and take their bits for an answer.
// The transfer runs only on a prepared master; true when it went through.
template <typename Transfer>
bool OnPreparedMaster(CoreState& core, Transfer transfer) {
  core.UsbDevice.Open();
  const bool done = PrepareI2CMaster(core.UsbDevice) && transfer();
  core.UsbDevice.Close();
  return done;
}

}  // namespace

void TForm1::MainPageControlChange(ui::Control&) {
  if (MainPageControl->ActivePage() != PageMI2CCtrl) return;
  DeviceActivity activity(app);
  if (!activity) return;
  OnPreparedMaster(core, [] { return true; });
}

void TForm1::edtMI2CAddrKeyDown(ui::Control&, std::uint16_t& Key, ui::ShiftState) {
  if (Key != ui::kKeyEnter) return;
  // Not in the middle of a read: one grid would show two slaves.
  DeviceActivity activity(app);
  if (!activity) return;
  app.SlaveAddress = TypedByte(edtMI2CAddr->Text());
  edtMI2CAddr->SetText(ByteText(app.SlaveAddress));
}

void TForm1::btnReadMI2CClick(ui::Control&) {
  ByteView view = I2cView(*this);
  ReadGrid(
      *this, *btnReadMI2C, "Read", view, [this] { return PrepareI2CMaster(core.UsbDevice); },
      [this](std::uint8_t reg, std::uint8_t& value) {
        return I2CReadRegisters(core.UsbDevice, app.SlaveAddress, reg, {&value, 1});
      });
}

void TForm1::StringGridMIICSelectCell(ui::Control&, int ACol, int ARow, bool& CanSelect) {
  DeviceActivity activity(app);
  if (!activity) {
    CanSelect = false;
    return;
  }
  ByteView view = I2cView(*this);
  HighlightHeaders(view.grid, ACol, ARow);
  const std::uint8_t reg = CellAddress(ACol, ARow);
  lblMI2CRegAddr->SetCaption("Reg 0x" + ByteText(reg));
  const bool read = OnPreparedMaster(core, [&] {
    return I2CReadRegisters(core.UsbDevice, app.SlaveAddress, reg, {&app.I2cImage[reg], 1});
  });
  ShowByte(*this, view, ACol, ARow, read);
  ShowValueLabel(view, reg);
}

void TForm1::StringGridMIICKeyDown(ui::Control&, std::uint16_t& Key, ui::ShiftState) {
  if (Key != ui::kKeyEnter && Key != ui::kKeyInsert && Key != ui::kKeyDelete) return;
  DeviceActivity activity(app);
  if (!activity) return;
  const int col = StringGridMIIC->Col();
  const int row = StringGridMIIC->Row();
  const std::uint8_t reg = CellAddress(col, row);
  std::uint8_t& stored = app.I2cImage[reg];
  // Unlike the register page, Insert and Delete start from the cell's text too. A text that is
  // no hexadecimal number raises the conversion error: nothing is stored or sent.
  stored = TypedByte(StringGridMIIC->Cell(col, row));
  bool pending = Key == ui::kKeyEnter;
  if (Key == ui::kKeyInsert && stored != 0xFF) {
    ++stored;
    pending = true;
  }
  if (Key == ui::kKeyDelete && stored != 0x00) {
    --stored;
    pending = true;
  }
  if (!pending) return;
  ByteView view = I2cView(*this);
  // The cell shows what the read-back brought, also after a failed write.
  ReadBack done;
  OnPreparedMaster(core, [&] {
    done = I2CWriteAndReadBack(core.UsbDevice, core.clock, app.SlaveAddress, reg, &stored,
                               kKeyReadBackPauseMs);
    return static_cast<bool>(done);
  });
  ShowByte(*this, view, col, row, done.read);
}

void TForm1::chkMI2CBitMouseUp(ui::Control& Sender, ui::MouseButton, ui::ShiftState, int, int) {
  DeviceActivity activity(app);
  if (!activity) {
    UndoBoxClick(Sender);
    return;
  }
  const std::uint8_t value = CheckedBits(*this, "chkMI2CBit");
  const int col = StringGridMIIC->Col();
  const int row = StringGridMIIC->Row();
  const std::uint8_t reg = CellAddress(col, row);
  std::uint8_t& stored = app.I2cImage[reg];
  stored = value;
  ByteView view = I2cView(*this);
  // The cell shows what the read-back brought, also after a failed write.
  ReadBack done;
  OnPreparedMaster(core, [&] {
    done = I2CWriteAndReadBack(core.UsbDevice, core.clock, app.SlaveAddress, reg, &stored,
                               kBitReadBackPauseMs);
    return static_cast<bool>(done);
  });
  ShowByte(*this, view, col, row, done.read);
  lblMI2CRegAddr->SetCaption("Reg 0x" + ByteText(reg));
  ShowValueLabel(view, reg);
}

}  // namespace qv
