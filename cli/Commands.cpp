#include "cli/Commands.h"

#include "chip/IspFlash.h"
#include "chip/RegisterMap.h"
#include "chip/Registers.h"
#include "flash/FlashOperations.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

using Style = UpdateProgress::Style;

template <typename Operation>
bool InIspMode(CoreState& core, Operation operation) {
  QuorvexUsb& usb = core.UsbDevice;
  usb.Open();
  SetIspMode(usb, true);
  const bool result = operation();
  SetIspMode(usb, false);
  usb.Close();
  return result;
}

// An operation between its start text and, when it passed, its success text, as the ISP page's
// buttons show them; a failure leaves the operation's own text.
template <typename Operation>
bool Step(ProgressBar& progress, const char* startText, const char* successText,
          Operation operation) {
  progress.Status(startText, Style::kNormal);
  const bool passed = operation();
  if (passed) progress.Status(successText, Style::kNormal);
  return passed;
}

}  // namespace

bool UpdateFirmware(CoreState& core, ProgressBar& progress) {
  return RunOneClickUpdate(core, progress).success;
}

bool VerifyFlash(CoreState& core, ProgressBar& progress) {
  return InIspMode(core, [&] {
    return Step(progress, "Start Verifying Check", "Verifying Success",
                [&] { return VerifyRange(core, progress, 0, core.FlashImage.Length); });
  });
}

bool BlankCheckFlash(CoreState& core, ProgressBar& progress, std::uint32_t size) {
  return InIspMode(core, [&] {
    return Step(progress, "Start Blanking Check", "Blanking Success",
                [&] { return BlankCheckRange(core, progress, 0, size); });
  });
}

bool EraseWholeFlash(CoreState& core, ProgressBar& progress) {
  return InIspMode(core, [&] {
    // The protect value depends on the chip's write mode.
    ChipSetUp(core);
    progress.Status("Clear Status register", Style::kNormal);
    ClearStatusRegister(core);
    const bool erased = EraseFlash(core, progress, EraseMode::kChip);
    if (erased) progress.Status("Erase Success", Style::kNormal);
    // The erase closed the connection; the chip is still in ISP mode.
    core.UsbDevice.Open();
    ProtectFlash(core);
    return erased;
  });
}

bool ReadBackFlash(CoreState& core, ProgressBar& progress, std::uint32_t size) {
  return InIspMode(core, [&] {
    return Step(progress, "Read Flash data back", "Read Flash content Success",
                [&] { return ReadBackRange(core, progress, 0, size); });
  });
}

bool ShowChipId(CoreState& core, std::ostream& out) {
  const bool read = InIspMode(core, [&] { return FlashReadId(core.UsbDevice, core.FlashChipId); });
  if (!read) return false;
  for (std::uint8_t byte : core.FlashChipId) out << "0x" << FormatHex(byte, 2) << ",  ";
  out << '\n';
  return true;
}

bool ShowFirmwareVersion(CoreState& core, std::ostream& out) {
  QuorvexUsb& usb = core.UsbDevice;
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  usb.Open();
  // A failed read would show a version the device never reported.
  const bool read = SelectRegisterBank(usb, chip::bank::kMailbox) &&
                    ReadRegister(usb, chip::mailbox::kVersionMajor, &major) &&
                    ReadRegister(usb, chip::mailbox::kVersionMinor, &minor);
  usb.Close();
  if (!read) return false;
  out << "Current Firmware:V" << unsigned{major} << '.' << unsigned{minor} << '\n';
  return true;
}

}  // namespace qv::cli
