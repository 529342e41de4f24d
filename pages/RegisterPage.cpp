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

// A write and its read-back in one open of the connection.
void WriteAndReadBack(CoreState& core, std::uint8_t address, std::uint8_t& stored,
                      std::uint32_t pauseMs) {
  core.UsbDevice.Open();
  qv::WriteAndReadBack(core.UsbDevice, core.clock, address, &stored, pauseMs);
  core.UsbDevice.Close();
}

}  // namespace

void TForm1::btnReadAllClick(ui::Control&) {
  ReadGrid(*this, *btnReadAll, "Read Bank", *RegStringGrid1, app.RegisterImage,
           [this](std::uint8_t address, std::uint8_t& value) {
             ReadRegister(core.UsbDevice, address, &value);
           });
}

void TForm1::RegStringGridSelectCell(ui::Control&, int ACol, int ARow, bool&) {
  HighlightHeaders(*RegStringGrid1, ACol, ARow);
  const std::uint8_t address = CellAddress(ACol, ARow);
  lblRegAddr->SetCaption("Reg 0x" + ByteText(address));
  DeviceActivity activity(app);
  if (!activity) return;
  core.UsbDevice.Open();
  ReadRegister(core.UsbDevice, address, &app.RegisterImage[address]);
  core.UsbDevice.Close();
  const std::uint8_t value = app.RegisterImage[address];
  RegStringGrid1->SetCell(ACol, ARow, ByteText(value));
  ShowBits(*this, "chkBit", value);
  lblRegData->SetCaption("= 0x" + ByteText(value));
}

void TForm1::RegStringGridKeyDown(ui::Control&, std::uint16_t& Key, ui::ShiftState) {
  const int col = RegStringGrid1->Col();
  const int row = RegStringGrid1->Row();
  const std::uint8_t address = CellAddress(col, row);
  std::uint8_t& stored = app.RegisterImage[address];
  bool pending = false;
  switch (Key) {
    case ui::kKeyEnter:
      // A text that is no hexadecimal number raises the conversion error: nothing is sent.
      stored = TypedByte(RegStringGrid1->Cell(col, row));
      pending = true;
      break;
    case ui::kKeyInsert:
      if (stored != 0xFF) {
        ++stored;
        pending = true;
      }
      break;
    case ui::kKeyDelete:
      if (stored != 0x00) {
        --stored;
        pending = true;
      }
      break;
    default:
      break;
  }
  if (!pending) return;
  DeviceActivity activity(app);
  if (!activity) return;
  WriteAndReadBack(core, address, stored, kKeyReadBackPauseMs);
  RegStringGrid1->SetCell(col, row, ByteText(stored));
  ShowBits(*this, "chkBit", stored);
}

void TForm1::chkBit0MouseUp(ui::Control&, ui::MouseButton, ui::ShiftState, int, int) {
  const std::uint8_t value = CheckedBits(*this, "chkBit");
  const int col = RegStringGrid1->Col();
  const int row = RegStringGrid1->Row();
  const std::uint8_t address = CellAddress(col, row);
  DeviceActivity activity(app);
  if (!activity) return;
  std::uint8_t& stored = app.RegisterImage[address];
  stored = value;
  WriteAndReadBack(core, address, stored, kBitReadBackPauseMs);
  RegStringGrid1->SetCell(col, row, ByteText(stored));
  ShowBits(*this, "chkBit", stored);
  lblRegAddr->SetCaption("Reg 0x" + ByteText(address));
  lblRegData->SetCaption("= 0x" + ByteText(stored));
}

}  // namespace qv
