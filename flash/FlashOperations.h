#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "flash/CoreState.h"
#include "flash/FlashProgress.h"

// The bulk operations on the device's serial flash: erase, blank check, program, verify and read
// back, and the chip set-up and status steps the update sequences are made of. The connection
// must be open, except for EraseFlash, which opens and closes it itself.
namespace qv {

inline constexpr std::uint32_t kReadBlockSize = 64;
inline constexpr std::uint32_t kSectorSize = 4096;
inline constexpr std::uint32_t kReadBackSize = 0x8000;

// FlashReadId, then PageSize and WordProgramMode from the identification.
void ChipSetUp(CoreState& core);
// Polls the busy bit up to 1,000 times, 10 ms apart; running out is not a failure here.
void StatusWait(CoreState& core);
void ClearStatusRegister(CoreState& core);
// Write-protects the whole flash with the status value of the chip's write mode.
void ProtectFlash(CoreState& core);

enum class EraseMode { kChip, kSectors };
// Erases the chip, or the sectors from RangeStart over RangeSize; opens and closes the
// connection. A sector or chip erase still busy after its 1,000 polls gives "Erase Flash Fail"
// and sets SequenceFailed. Returns false then.
bool EraseFlash(CoreState& core, FlashProgress& progress, EraseMode mode);

bool BlankCheckRange(CoreState& core, FlashProgress& progress, std::uint32_t start,
                     std::uint32_t end);
bool VerifyRange(CoreState& core, FlashProgress& progress, std::uint32_t start, std::uint32_t end);
// Programs FlashImage.Data[0 ...] at flash addresses start to end. Before any chip set-up the
// page size is unknown: the flash is identified first.
bool ProgramRange(CoreState& core, FlashProgress& progress, std::uint32_t start, std::uint32_t end);
// Reads start to end into ReadBackBuffer, every block twice.
bool ReadBackRange(CoreState& core, FlashProgress& progress, std::uint32_t start,
                   std::uint32_t end);

// The read-back dump: lines of sixteen "0xNN, " entries from offset 0 up to `end`, each line
// ended by a single carriage return.
std::string FormatReadBackDump(std::span<const std::uint8_t> buffer, std::uint32_t end);

// The texts of the erase poll: "Flash Erase All " and 0 to 9 full stops, growing every 20 polls.
std::string EraseAllText(int poll);

}  // namespace qv
