#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "chip/IspFlash.h"
#include "image/FlashImage.h"
#include "platform/Clock.h"
#include "transport/QuorvexUsb.h"

namespace qv {

// What the window and the command-line tool share: the one device connection, the flash image,
// the flash identification and the programming parameters derived from it. Created by main (and
// afresh by every test); nothing of it lives in namespace-scope globals.
struct CoreState {
  CoreState(DeviceIo& io, DeviceInterfaces& interfaces, Clock& clock)
      : clock(clock), UsbDevice(io, interfaces) {}

  Clock& clock;
  QuorvexUsb UsbDevice;

  // The image to program; on the heap, it is too large for a stack.
  std::unique_ptr<qv::FlashImage> imageStorage = std::make_unique<qv::FlashImage>();
  qv::FlashImage& FlashImage = *imageStorage;
  // A whole flash to write back (a backup of a part larger than any firmware image), used by
  // the flash operations and the update in place of FlashImage while it is not empty. Its size is
  // a whole number of pages, the bytes past WholeFlashLength erased (0xFF). The window never
  // sets it.
  std::vector<std::uint8_t> WholeFlash;
  std::uint32_t WholeFlashLength = 0;
  // What the operations program and verify, and how many bytes of it count.
  std::span<const std::uint8_t> ProgramImage() const {
    return WholeFlash.empty() ? std::span<const std::uint8_t>(FlashImage.Data)
                              : std::span<const std::uint8_t>(WholeFlash);
  }
  std::uint32_t ProgramLength() const {
    return WholeFlash.empty() ? FlashImage.Length : WholeFlashLength;
  }
  // What an operation programs and verifies, copied when it begins: the window lets a polling
  // tick reload the file in the middle of it, and the bytes it writes must stay those it started
  // with.
  struct ImageSnapshot {
    std::vector<std::uint8_t> bytes;  // whole pages, past `length` as the image holds them
    std::uint32_t length = 0;
  };
  ImageSnapshot SnapshotProgramImage() const {
    const auto image = ProgramImage();
    return {std::vector<std::uint8_t>(image.begin(), image.end()), ProgramLength()};
  }

  std::string UpdateFilePath;
  std::uint8_t ProgramFileReady = 0;
  std::uint8_t UpdateFileLoaded = 0;

  FlashId FlashChipId{};

  // Flash programming parameters.
  std::uint32_t RangeStart = 0;
  std::uint32_t RangeSize = 0;
  std::uint16_t PageSize = 0;  // 0 until a chip set-up has read the flash identification
  std::uint8_t WordProgramMode = 0;
  std::uint8_t ProtectValue = 0xFF;  // the status value that write-protects the whole flash
  std::uint8_t SequenceFailed = 0;
  std::vector<std::uint8_t> ReadBackBuffer;
};

}  // namespace qv
