#include "flash/FlashOperations.h"

#include <algorithm>
#include <array>
#include <functional>

#include "chip/FlashParts.h"
#include "util/Text.h"

namespace qv {
namespace {

using Label = FlashProgress::Label;
using Kind = FlashEvent::Kind;

// An erase is polled 1,000 times 10 ms apart: ten seconds, well beyond a whole-chip erase of
// the parts these devices carry (one to two seconds), and the same for a sector.
constexpr int kErasePolls = 1000;
constexpr std::uint32_t kErasePauseMs = 10;
// The status wait after a status write: as long again, for the same reason.
constexpr int kStatusWaitPolls = 1000;
constexpr std::uint32_t kStatusWaitPauseMs = 10;
constexpr int kBusyWaitReads = 101;
constexpr std::uint32_t kBusyWaitPauseMs = 1;
// After a page program the chip gets 10 ms to report the transfer to the flash done; the answer
// is not used, the next page's busy wait is what holds the programming back.
constexpr int kTransferDonePolls = 10;
constexpr std::uint32_t kTransferDonePauseMs = 1;
// A block may fail twice in a row (a disturbed transfer); a third time means the flash differs.
constexpr int kBadAttemptsPerBlock = 3;

std::string Address6(std::uint64_t address) {
  return "0x" + FormatHex(address, 6);
}

// A step ended by the progress's stop request at `address`.
FlashEvent Stopped(FlashStep step, std::uint32_t address) {
  return {.step = step,
          .kind = Kind::kStopped,
          .address = address,
          .text = "Stopped at " + Address6(address)};
}

FlashEvent Failed(FlashStep step, std::string text) {
  return {.step = step, .kind = Kind::kFailure, .text = std::move(text)};
}

// Refuses an operation's range before anything is sent; true when it may run.
bool RangeAccepted(FlashProgress& progress, FlashStep step, std::uint32_t start, std::uint32_t end,
                   std::optional<std::uint64_t> imageSize) {
  const std::optional<std::string> problem =
      end < start ? std::optional<std::string>("Range Error: the range ends before it starts")
                  : OperationRangeProblem(start, end - start, imageSize);
  if (problem) progress.Report(Failed(step, *problem));
  return !problem;
}

bool Busy(std::uint8_t status) {
  return (status & kFlashStatusBusy) != 0;
}

// Reads 64-byte blocks from start to end and hands each clean read to `check`, which returns the
// position of the first difference or -1. Three bad attempts in a row on one block fail it.
struct BlockScan {
  ScanTexts texts;
  bool clearBuffer;
};

template <typename Check>
bool ScanBlocks(CoreState& core, FlashProgress& progress, std::uint32_t start, std::uint32_t end,
                const BlockScan& scan, Check check) {
  std::array<std::uint8_t, kReadBlockSize> buffer{};
  int failures = 0;
  std::uint32_t position = 0;  // of the last difference found in the current block
  for (std::uint32_t b = start; b < end;) {
    if (progress.StopRequested()) {
      progress.Report(Stopped(scan.texts.step, b));
      return false;
    }
    if (scan.clearBuffer) buffer.fill(0);
    if (FlashReadPage(core.UsbDevice, core.clock, b, buffer)) {
      const int difference = check(b, std::span<const std::uint8_t>(buffer));
      if (difference < 0) {
        failures = 0;
      } else {
        ++failures;
        position = static_cast<std::uint32_t>(difference);
      }
      progress.Show(Label::kProcessAddress, scan.texts.addressText + Address6(b));
      progress.Advance(b, start, end);
      progress.ProcessMessages();
    } else {
      ++failures;
    }
    if (failures >= kBadAttemptsPerBlock) {
      const std::uint32_t address = b + position;
      progress.Report({.step = scan.texts.step,
                       .kind = Kind::kFailure,
                       .address = address,
                       .text = scan.texts.failText + Address6(address)});
      return false;
    }
    if (failures == 0) {
      b += kReadBlockSize;
      position = 0;
    }
  }
  return true;
}

// Compares a block with the expected bytes up to the end of the range.
template <typename Expected>
int FirstDifference(std::uint32_t b, std::uint32_t end, std::span<const std::uint8_t> block,
                    Expected expected) {
  for (std::uint32_t p = 0; p < kReadBlockSize && b + p < end; ++p)
    if (block[p] != expected(b + p)) return static_cast<int>(p);
  return -1;
}

// Up to 101 status reads 1 ms apart (about the longest page program a part of this size
// takes); false when the flash stayed busy.
bool BusyWait(CoreState& core) {
  for (int i = 0; i < kBusyWaitReads; ++i) {
    if (!Busy(FlashReadStatus(core.UsbDevice))) return true;
    if (core.UsbDevice.Unreachable()) return false;
    core.clock.Sleep(kBusyWaitPauseMs);
  }
  return false;
}

bool AllErased(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

bool PollErase(CoreState& core, FlashProgress& progress,
               const std::function<void(int poll, std::uint8_t status)>& show) {
  core.clock.Sleep(kErasePauseMs);
  for (int poll = 0; poll < kErasePolls; ++poll) {
    const std::uint8_t status = FlashReadStatus(core.UsbDevice);
    show(poll, status);
    progress.ProcessMessages();
    if (!Busy(status)) return true;
    // A device that has left will never answer: its erase is not waited for.
    if (core.UsbDevice.Unreachable()) return false;
    core.clock.Sleep(kErasePauseMs);
  }
  return false;
}

std::string EraseAllText(int poll) {
  return "Flash Erase All " + std::string(static_cast<std::size_t>((poll / 20) % 10), '.');
}

std::optional<std::string> OperationRangeProblem(std::uint64_t start, std::uint64_t length,
                                                 std::optional<std::uint64_t> imageSize) {
  if (imageSize && length > *imageSize)
    return "Range Error: " + std::to_string(length) + " bytes are more than the image's " +
           std::to_string(*imageSize);
  if (start + length > kFlashAddressSpace || start >= kFlashAddressSpace)
    return "Range Error: " + Address6(start) + " to " + Address6(start + length - (length > 0)) +
           " is past the last flash address 0xFFFFFF";
  return std::nullopt;
}

std::optional<std::string> SectorRangeProblem(std::uint64_t start, std::uint64_t size) {
  if (size == 0 || start + size <= kFlashAddressSpace) return std::nullopt;
  return "Range Error: sectors " + Address6(start) + " to " + Address6(start + size - 1) +
         " are past the last flash address 0xFFFFFF";
}

bool ChipSetUp(CoreState& core) {
  // A chip that does not answer keeps the previous identification, and the parameters follow
  // from that one.
  const bool answered = FlashReadId(core.UsbDevice, core.FlashChipId);
  const FlashGeometry geometry = DescribeFlash(core.FlashChipId);
  core.PageSize = geometry.pageSize;
  core.WordProgramMode = geometry.method == ProgramMethod::kWord ? 1 : 0;
  core.ProtectValue = geometry.protectValue;
  return answered;
}

bool StatusWait(CoreState& core) {
  // 1,000 polls 10 ms apart: ten seconds, longer than any status write or program takes.
  for (int i = 0; i < kStatusWaitPolls; ++i) {
    if (!Busy(FlashReadStatus(core.UsbDevice))) return true;
    if (core.UsbDevice.Unreachable()) return false;
    core.clock.Sleep(kStatusWaitPauseMs);
  }
  return false;
}

bool ClearStatusRegister(CoreState& core) {
  FlashReadStatus(core.UsbDevice);  // read but not used
  const bool sent = FlashWriteEnable(core.UsbDevice) && FlashWriteStatus(core.UsbDevice, 0x00);
  return StatusWait(core) && sent;
}

bool ProtectFlash(CoreState& core) {
  const bool sent =
      FlashWriteEnable(core.UsbDevice) && FlashWriteStatus(core.UsbDevice, core.ProtectValue);
  return StatusWait(core) && sent;
}

bool EraseFlash(CoreState& core, FlashProgress& progress, EraseMode mode) {
  if (mode == EraseMode::kSectors) {
    if (const auto problem = SectorRangeProblem(core.RangeStart, core.RangeSize)) {
      progress.Report(Failed(FlashStep::kErase, *problem));
      core.SequenceFailed = 1;
      return false;
    }
  }
  QuorvexUsb& usb = core.UsbDevice;
  usb.Open();
  const auto showStatus = [&](std::uint8_t status) {
    progress.Show(Label::kStatusRegister, "Status Register: 0x" + FormatHex(status, 2));
  };
  // The erase poll's texts are one step: its start, shown again with each poll.
  const auto erasing = [&](std::string text, std::optional<std::uint32_t> sector = std::nullopt) {
    progress.Report({.step = FlashStep::kErase,
                     .kind = Kind::kStart,
                     .address = sector,
                     .text = std::move(text)});
  };
  bool cleared = true;
  std::optional<FlashEvent> stopped;
  if (mode == EraseMode::kChip) {
    erasing(EraseAllText(0));
    // An erase instruction that did not arrive erased nothing: there is nothing to wait for.
    cleared = FlashWriteEnable(usb) && FlashChipErase(usb);
    if (cleared) {
      cleared = PollErase(core, progress, [&](int poll, std::uint8_t status) {
        erasing(EraseAllText(poll));
        showStatus(status);
      });
    }
  } else {
    erasing("Flash Sector Erase");
    const std::uint64_t end = std::uint64_t{core.RangeStart} + core.RangeSize;
    for (std::uint64_t s = core.RangeStart; s < end; s += kSectorSize) {
      const auto sector = static_cast<std::uint32_t>(s);
      // The chip finishes a sector on its own, so a stop waits for that and ends between two.
      if (progress.StopRequested()) {
        stopped = Stopped(FlashStep::kErase, sector);
        break;
      }
      if (!FlashWriteEnable(usb) || !FlashSectorErase(usb, sector)) {
        cleared = false;
        break;
      }
      // Any sector that timed out fails the erase, not only the last one.
      cleared &= PollErase(core, progress, [&](int, std::uint8_t status) {
        erasing("Flash Sector Erase: 0x " + FormatHex(sector, 6), sector);
        showStatus(status);
      });
      progress.Advance(sector, core.RangeStart, static_cast<std::uint32_t>(end));
    }
  }
  usb.Close();
  if (stopped) {
    progress.Report(*stopped);
    core.SequenceFailed = 1;
    return false;
  }
  if (!cleared) {
    progress.Report(Failed(FlashStep::kErase, "Erase Flash Fail"));
    core.SequenceFailed = 1;
  }
  return cleared;
}

bool BlankCheckRange(CoreState& core, FlashProgress& progress, std::uint32_t start,
                     std::uint32_t end) {
  if (!RangeAccepted(progress, FlashStep::kBlankCheck, start, end, std::nullopt)) return false;
  const BlockScan scan{{FlashStep::kBlankCheck, "Blanking Addr: ", "Blanking Fail at "}, false};
  return ScanBlocks(core, progress, start, end, scan, [&](std::uint32_t b, auto block) {
    return FirstDifference(b, end, block, [](std::uint32_t) { return std::uint8_t{0xFF}; });
  });
}

bool VerifyRange(CoreState& core, FlashProgress& progress, std::span<const std::uint8_t> image,
                 std::uint32_t start, std::uint32_t end) {
  if (!RangeAccepted(progress, FlashStep::kVerify, start, end, image.size())) return false;
  const BlockScan scan{{FlashStep::kVerify, "Verifying Addr: ", "Verifying Fail at "}, true};
  return ScanBlocks(core, progress, start, end, scan, [&](std::uint32_t b, auto block) {
    return FirstDifference(b, end, block, [&](std::uint32_t a) { return image[a - start]; });
  });
}

bool ProgramRange(CoreState& core, FlashProgress& progress, std::span<const std::uint8_t> image,
                  std::uint32_t start, std::uint32_t end) {
  if (!RangeAccepted(progress, FlashStep::kProgram, start, end, image.size())) return false;
  QuorvexUsb& usb = core.UsbDevice;
  // Without a page size the loop could never advance: identify the flash as a sequence would.
  if (core.PageSize == 0) ChipSetUp(core);
  const std::uint16_t page = core.PageSize;
  bool result = true;
  const auto showAddress = [&](std::uint32_t a) {
    progress.Show(Label::kProcessAddress, Address6(a));
    progress.Advance(a, start, end);
    progress.ProcessMessages();
  };
  const auto stopAt = [&](std::uint32_t a) {
    if (!progress.StopRequested()) return false;
    progress.Report(Stopped(FlashStep::kProgram, a));
    return true;
  };

  if (!core.WordProgramMode) {
    for (std::uint32_t a = start; a < end; a += page) {
      const auto bytes = image.subspan(a - start, page);
      if (AllErased(bytes)) continue;
      if (stopAt(a)) return false;
      if (!BusyWait(core)) result = false;
      // A page whose write enable did not arrive is ignored by the flash: the range is not
      // programmed, whatever a later step would find.
      if (!FlashWriteEnable(usb)) result = false;
      showAddress(a);
      if (!result) break;
      if (!FlashProgramPage(usb, a, bytes)) return false;
      for (int i = 0; i < kTransferDonePolls && !usb.Unreachable(); ++i) {
        core.clock.Sleep(kTransferDonePauseMs);
        if (ReadIspReady(usb)) break;
      }
    }
    return result;
  }

  if (!BusyWait(core)) result = false;
  for (std::uint32_t a = start; a < end; a += page) {
    if (stopAt(a)) return false;
    showAddress(a);
    if (!FlashWriteEnable(usb)) result = false;
    const auto bytes = image.subspan(a - start, page);
    if (AllErased(bytes)) continue;
    if (!result) break;
    // Write disable ends the word-program mode; without it the flash ignores what follows.
    if (!FlashProgramWords(usb, a, bytes) || !FlashWriteDisable(usb)) return false;
  }
  return result;
}

bool ReadBackRange(CoreState& core, FlashProgress& progress, std::uint32_t start, std::uint32_t end,
                   const ScanTexts& texts) {
  if (!RangeAccepted(progress, texts.step, start, end, std::nullopt)) return false;
  auto& buffer = core.ReadBackBuffer;
  if (buffer.size() < std::max<std::size_t>(end, kFlashImageSize))
    buffer.resize(std::max<std::size_t>(end, kFlashImageSize));
  std::fill(buffer.begin() + start, buffer.begin() + end, 0x5A);

  std::array<std::uint8_t, kReadBlockSize> second{};
  const BlockScan scan{texts, true};
  return ScanBlocks(core, progress, start, end, scan, [&](std::uint32_t b, auto block) {
    const std::size_t n = std::min<std::size_t>(kReadBlockSize, end - b);
    std::copy_n(block.begin(), n, buffer.begin() + b);
    second.fill(0);
    // A second read must give the same bytes; a failed one counts as a difference at 0.
    if (!FlashReadPage(core.UsbDevice, core.clock, b, second)) return 0;
    const auto mismatch = std::mismatch(block.begin(), block.begin() + n, second.begin());
    return mismatch.first == block.begin() + n ? -1
                                               : static_cast<int>(mismatch.first - block.begin());
  });
}

std::string FormatReadBackDump(std::span<const std::uint8_t> buffer, std::uint32_t end) {
  std::string dump;
  dump.reserve(end / 16 * (16 * 6 + 1));
  for (std::uint32_t line = 0; line < end; line += 16) {
    for (std::uint32_t i = line; i < line + 16; ++i) {
      dump += "0x";
      dump += FormatHex(i < buffer.size() ? buffer[i] : 0, 2);
      dump += ", ";
    }
    dump += '\r';
  }
  return dump;
}

}  // namespace qv
