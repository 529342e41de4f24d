#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/DeviceOwnership.h"
#include "app/InformationTexts.h"
#include "chip/PlaybackStatus.h"
#include "image/FlashImage.h"

namespace qv {

// The window program's own state beside the shared core: polling flags, the model being probed,
// the custom update id, the parameter record, the file editor's buffer and the fixed texts.
// Created by main (and afresh by every test) before the window.
struct AppState {
  std::string WindowTitle = "Brevanto firmware update Tool V1.9";

  // Device polling.
  std::uint8_t DetectEnabled = 0;
  std::uint8_t UpdateBusy = 0;
  std::uint8_t UpdateFinished = 0;
  std::uint8_t IspIdToggle = 0;
  std::uint8_t ModelIndex = 0;  // row of the device model table probed or found last, 0..15

  // The window's claims on the devices it sends to; the window programs set how devices are
  // claimed before the window is created.
  DeviceOwnership Ownership;

  // An operation that holds the connection across the message pump is running (a flash
  // operation or sequence, a register bank or I2C read).
  std::uint8_t DeviceActivityRunning = 0;
  // What the ISP page's Enter ISP button did last.
  std::uint8_t InIspMode = 0;
  // Why the typed "Assign Range" cannot be used (outside the flash's address space); empty when
  // it can, and always while "All" is selected.
  std::string RangeError;

  // The update id typed on the panel, empty until the window is created.
  std::string CustomVid;
  std::string CustomPid;
  std::string CustomMatchText;

  // Over a replayed capture: the first request of the window's that was not the captured one,
  // named with what each side held; empty while every request was. Unset over other devices.
  std::function<std::string()> ReplayMismatch;

  // The service build: the engineering pages and the panel's engineering controls stay shown
  // and the window keeps its designed size. Chosen once, before the window is created.
  bool ServiceMode = false;

  // Register page: the last value read from or written to each register of the selected bank,
  // and the registers whose last read failed (their cells show "--", not an older value).
  std::array<std::uint8_t, 256> RegisterImage{};
  std::bitset<256> RegisterUnread;
  // I2C pages: the slave's address byte (bit 0 clear), and the last value of each of its
  // registers, with those whose last read failed.
  std::uint8_t SlaveAddress = 0x20;
  std::array<std::uint8_t, 256> I2cImage{};
  std::bitset<256> I2cUnread;
  // Information page: the status registers 0xA4, 0xA5 and 0xA6 as last read.
  qv::PlaybackStatus PlaybackStatus;

  // The device's settings record as the parameter page shows it; set by the window's creation.
  std::array<std::uint8_t, 4> ParameterSettings{};

  // The file editor's own copy of a loaded image, separate from the flash image.
  std::string EditFilePath;
  std::string NewFilePath;
  std::vector<std::uint8_t> EditBuffer = std::vector<std::uint8_t>(kFlashImageSize);
  std::uint32_t EditLength = 0;
  std::uint32_t MarkerOffset = 0;

  InformationTexts Texts;
};

}  // namespace qv
