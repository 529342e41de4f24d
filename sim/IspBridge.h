#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/DriverRecords.h"
#include "sim/SpiFlash.h"

namespace qv::sim {

// The chip's ISP side: the mode switch with its key pairs and the pass-through of flash
// instructions (requests 0x80 to 0x83) to the serial flash behind it.
class IspBridge {
 public:
  explicit IspBridge(const Clock& clock);
  IspBridge(const IspBridge&) = delete;
  IspBridge& operator=(const IspBridge&) = delete;
  ~IspBridge();

  static bool Handles(std::uint8_t request) { return request >= 0x80 && request <= 0x85; }
  // Carries out one of the ISP requests; false when the chip stalls it.
  bool Control(const drivers::DecodedRequest& request, std::span<std::uint8_t> answer);

  bool InIspMode() const { return ispMode_; }
  // The device lost its power (it was unplugged): ISP mode and an instruction under way end,
  // and the flash keeps what it holds.
  void PowerOff();
  SpiFlash& Flash() { return *flash_; }
  const SpiFlash& Flash() const { return *flash_; }
  // Replaces the flash part (blank) before anything else happened.
  void FitFlash(const FlashChipModel& model);

  // The ready byte reads 0 for this many polls after each instruction; nullopt: never ready.
  void SetReadyAfter(std::optional<std::uint32_t> polls) { readyAfter_ = polls; }
  // The same for instructions that return nothing (0x80) alone, such as a page program, whose
  // bytes take the chip longer to clock out; unset: as every instruction.
  void SetReadyAfterSends(std::optional<std::optional<std::uint32_t>> polls) {
    readyAfterSends_ = polls;
  }
  // Every n-th read instruction (0x03) answers with one bit flipped.
  void SetFlipReads(std::uint32_t n) { flipEvery_ = n; }
  // The flash contents come from this file and are saved back to it when ISP mode ends and
  // when the device goes away, if they changed. Returns an error text, empty on success. A save
  // replaces the file whole (a temporary file renamed over it), so an interrupted one leaves the
  // previous contents.
  std::string AttachFile(const std::filesystem::path& path);
  // The file the flash is kept in; empty when it lives in this process only.
  const std::filesystem::path& AttachedFile() const { return file_; }
  void SaveFile();
  // Why the last save failed; empty when it worked.
  const std::string& SaveError() const { return saveError_; }

 private:
  bool Instruction(std::span<const std::uint8_t> bytes, std::size_t answerCount);
  void Flip(std::vector<std::uint8_t>& answer);

  const Clock& clock_;
  std::unique_ptr<SpiFlash> flash_;
  bool ispMode_ = false;
  std::vector<std::uint8_t> pending_;  // bytes of an instruction still under way (chip select low)
  std::vector<std::uint8_t> answer_;
  std::optional<std::uint32_t> readyAfter_ = 0;
  std::optional<std::optional<std::uint32_t>> readyAfterSends_;
  std::optional<std::uint32_t> notReadyPolls_ = 0;  // nullopt: never ready
  std::uint32_t flipEvery_ = 0;
  std::uint64_t reads_ = 0;
  std::filesystem::path file_;
  std::uint64_t savedChanges_ = 0;
  std::string saveError_;
};

}  // namespace qv::sim
