#pragma once

#include <cstdint>
#include <memory>
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
