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

// A write and its read-back in one open of the connection; a slave that does not answer leaves
// `stored` as it is.
void WriteAndReadBack(CoreState& core, std::uint8_t slave, std::uint8_t reg, std::uint8_t& stored,
                      std::uint32_t pauseMs) {
  core.UsbDevice.Open();
  I2CWriteAndReadBack(core.UsbDevice, core.clock, slave, reg, &stored, pauseMs);
  core.UsbDevice.Close();
}

}  // namespace

void TForm1::MainPageControlChange(ui::Control&) {
  if (MainPageControl->ActivePage() != PageMI2CCtrl) return;
  DeviceActivity activity(app);
  if (!activity) return;
  core.UsbDevice.Open();
  PrepareI2CMaster(core.UsbDevice);
  core.UsbDevice.Close();
}

void TForm1::edtMI2CAddrKeyDown(ui::Control&, std::uint16_t& Key, ui::ShiftState) {
  if (Key != ui::kKeyEnter) return;
  app.SlaveAddress = TypedByte(edtMI2CAddr->Text());
  edtMI2CAddr->SetText(ByteText(app.SlaveAddress));
}

void TForm1::btnReadMI2CClick(ui::Control&) {
  ReadGrid(*this, *btnReadMI2C, "Read", *StringGridMIIC, app.I2cImage,
           [this](std::uint8_t reg, std::uint8_t& value) {
             I2CReadRegisters(core.UsbDevice, app.SlaveAddress, reg, {&value, 1});
           });
}

void TForm1::StringGridMIICSelectCell(ui::Control&, int ACol, int ARow, bool&) {
  HighlightHeaders(*StringGridMIIC, ACol, ARow);
  const std::uint8_t reg = CellAddress(ACol, ARow);
  lblMI2CRegAddr->SetCaption("Reg 0x" + ByteText(reg));
  DeviceActivity activity(app);
  if (!activity) return;
  core.UsbDevice.Open();
  I2CReadRegisters(core.UsbDevice, app.SlaveAddress, reg, {&app.I2cImage[reg], 1});
  core.UsbDevice.Close();
  const std::uint8_t value = app.I2cImage[reg];
  StringGridMIIC->SetCell(ACol, ARow, ByteText(value));
  ShowBits(*this, "chkMI2CBit", value);
  lblMI2CRegData->SetCaption("= 0x" + ByteText(value));
}

void TForm1::StringGridMIICKeyDown(ui::Control&, std::uint16_t& Key, ui::ShiftState) {
  if (Key != ui::kKeyEnter && Key != ui::kKeyInsert && Key != ui::kKeyDelete) return;
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
  DeviceActivity activity(app);
  if (!activity) return;
  WriteAndReadBack(core, app.SlaveAddress, reg, stored, kKeyReadBackPauseMs);
  StringGridMIIC->SetCell(col, row, ByteText(stored));
  ShowBits(*this, "chkMI2CBit", stored);
}

void TForm1::chkMI2CBitMouseUp(ui::Control&, ui::MouseButton, ui::ShiftState, int, int) {
  const std::uint8_t value = CheckedBits(*this, "chkMI2CBit");
  const int col = StringGridMIIC->Col();
  const int row = StringGridMIIC->Row();
  const std::uint8_t reg = CellAddress(col, row);
  DeviceActivity activity(app);
  if (!activity) return;
  std::uint8_t& stored = app.I2cImage[reg];
  stored = value;
  WriteAndReadBack(core, app.SlaveAddress, reg, stored, kBitReadBackPauseMs);
  StringGridMIIC->SetCell(col, row, ByteText(stored));
  ShowBits(*this, "chkMI2CBit", stored);
  lblMI2CRegAddr->SetCaption("Reg 0x" + ByteText(reg));
  lblMI2CRegData->SetCaption("= 0x" + ByteText(stored));
}

}  // namespace qv
