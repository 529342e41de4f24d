// The Information page's "Special I2C access": a raw transfer of 1 to 5 command bytes, then 1 to
// 5 data bytes written or read, to the slave address both I2C views share.
#include <array>
#include <string>

#include "app/DeviceActivity.h"
#include "app/Unit1.h"
#include "chip/I2cMaster.h"
#include "image/HexLoader.h"
#include "pages/ByteGrid.h"

namespace qv {
namespace {

constexpr int kMaxBytes = 5;

// Only the first two characters count, each a hex digit or else 0, a missing one 0 too: "5" is
// 0x50, "123" 0x12, "G1" 0x01, "" 0x00.
std::uint8_t EditByte(const std::string& text) {
  std::string digits = text.substr(0, 2);
  digits.resize(2, '\0');
  return static_cast<std::uint8_t>(HexFieldValue(digits));
}

// The first `count` edits of a family ("edtI2Ccmd0" ...), found by name.
std::array<std::uint8_t, kMaxBytes> FamilyBytes(TForm1& form, const std::string& prefix,
                                                int count) {
  std::array<std::uint8_t, kMaxBytes> bytes{};
  for (int i = 0; i < count; ++i) {
    if (const auto* edit = form.Find<ui::Edit>(prefix + std::to_string(i)))
      bytes[static_cast<std::size_t>(i)] = EditByte(edit->Text());
  }
  return bytes;
}

void EnableFamily(TForm1& form, const std::string& prefix, int count) {
  for (int i = 0; i < kMaxBytes; ++i) {
    if (auto* edit = form.Find<ui::Edit>(prefix + std::to_string(i))) edit->SetEnabled(i < count);
  }
}

}  // namespace

void TForm1::edtMI2CAddr1KeyDown(ui::Control&, std::uint16_t& Key, ui::ShiftState) {
  if (Key != ui::kKeyEnter) return;
  // Not in the middle of an I2C grid read: one grid would show two slaves.
  DeviceActivity activity(app);
  if (!activity) return;
  app.SlaveAddress = TypedByte(edtMI2CAddr1->Text());
  // The I2C Access page shows the address now in force; this edit keeps what was typed.
  edtMI2CAddr->SetText(ByteText(app.SlaveAddress));
}

void TForm1::srblen0Change(ui::Control&) {
  lbllencmd->SetCaption(std::to_string(srblen0->Position()));
  EnableFamily(*this, "edtI2Ccmd", srblen0->Position());
}

void TForm1::srblen1Change(ui::Control&) {
  lbllendat->SetCaption(std::to_string(srblen1->Position()));
  EnableFamily(*this, "edtI2Cdat", srblen1->Position());
}

void TForm1::btnWriteSpecI2CClick(ui::Control&) {
  if (!core.UsbDevice.GetDeviceFound()) return;
  const int n = srblen0->Position();
  const int m = srblen1->Position();
  const auto command = FamilyBytes(*this, "edtI2Ccmd", n);
  const auto data = FamilyBytes(*this, "edtI2Cdat", m);
  DeviceActivity activity(app);
  if (!activity) return;
  QuorvexUsb& usb = core.UsbDevice;
  usb.Open();
  // The other pages select bank 0 in between; without its own preparation the transfer would
  // write bank 0's registers 0x10 to 0x14 instead of driving the I2C engine.
  if (PrepareI2CMaster(usb))
    I2CWrite(usb, app.SlaveAddress, std::span(command).first(static_cast<std::size_t>(n)),
             std::span(data).first(static_cast<std::size_t>(m)));
  usb.Close();
}

void TForm1::btnReadSpecI2CClick(ui::Control&) {
  if (!core.UsbDevice.GetDeviceFound()) return;
  const int n = srblen0->Position();
  const int m = srblen1->Position();
  const auto command = FamilyBytes(*this, "edtI2Ccmd", n);
  DeviceActivity activity(app);
  if (!activity) return;
  QuorvexUsb& usb = core.UsbDevice;
  std::array<std::uint8_t, kMaxBytes> buffer{};
  usb.Open();
  const bool read =
      PrepareI2CMaster(usb) &&
      I2CRead(usb, app.SlaveAddress, std::span(command).first(static_cast<std::size_t>(n)),
              std::span(buffer).first(static_cast<std::size_t>(m)));
  usb.Close();
  // A read that failed has nothing to show: the data edits are emptied, so that what they held
  // before does not pass for the slave's answer.
  for (int i = 0; i < m; ++i) {
    if (auto* edit = Find<ui::Edit>("edtI2Cdat" + std::to_string(i)))
      edit->SetText(read ? ByteText(buffer[static_cast<std::size_t>(i)]) : std::string());
  }
}

}  // namespace qv
