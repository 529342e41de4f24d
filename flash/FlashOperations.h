#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "flash/CoreState.h"
#include "flash/FlashProgress.h"

// The bulk operations on the device's serial flash: erase, blank check, program, verify and read
// back, and the chip set-up and status steps the update sequences are made of. The connection
// must be open, except for EraseFlash, which opens and closes it itself.
//
// A request that fails ends an operation: it never goes on as if the request had worked. A range
// that does not lie inside the flash's 24-bit address space (or, for program and verify, inside
// the image) is refused with a failure event before anything is sent. Each operation stops at its
// next block, page or sector when the progress asks it to, and reports the stop with its address.
// A failure that has an address (a block that differs, a stop) reports it in the event.
namespace qv {

inline constexpr std::uint32_t kReadBlockSize = 64;
inline constexpr std::uint32_t kSectorSize = 4096;
inline constexpr std::uint32_t kReadBackSize = 0x8000;
// Flash addresses travel as three bytes.
inline constexpr std::uint64_t kFlashAddressSpace = 0x1000000;

// Why an operation over `length` bytes of flash from `start` cannot run: past the address space,
// or longer than the image of `imageSize` bytes it takes its bytes from (nothing: it takes none).
// Nothing when it can.
std::optional<std::string> OperationRangeProblem(
    std::uint64_t start, std::uint64_t length,
    std::optional<std::uint64_t> imageSize = kFlashImageSize);
// Why a sector erase of `size` bytes from `start` cannot run.
std::optional<std::string> SectorRangeProblem(std::uint64_t start, std::uint64_t size);

// FlashReadId, then PageSize, WordProgramMode and ProtectValue from the identification (a
// known part's row, or the rule for an unknown one). True when the identification was read;
// otherwise FlashChipId keeps what it held and the parameters follow from that.
bool ChipSetUp(CoreState& core);
// Polls the busy bit up to 1,000 times, 10 ms apart; true when it cleared. Running out is not
// a failure of the sequences, which go on and meet the problem in their next step.
bool StatusWait(CoreState& core);
// Clears the status register (protection off); true when its requests went through.
bool ClearStatusRegister(CoreState& core);
// Write-protects the whole flash with the part's protect value; true when its requests went
// through and the flash finished.
bool ProtectFlash(CoreState& core);

enum class EraseMode { kChip, kSectors };
// Erases the chip, or the sectors from RangeStart over RangeSize; opens and closes the
// connection. A failed erase request, or a sector or chip erase still busy after its 1,000
// polls, gives "Erase Flash Fail" and sets SequenceFailed; a sector range past the address space
// is refused unsent and sets SequenceFailed too. Returns false then.
bool EraseFlash(CoreState& core, FlashProgress& progress, EraseMode mode);

bool BlankCheckRange(CoreState& core, FlashProgress& progress, std::uint32_t start,
                     std::uint32_t end);
// Compares flash addresses start to end with image[0 ...].
bool VerifyRange(CoreState& core, FlashProgress& progress, std::span<const std::uint8_t> image,
                 std::uint32_t start, std::uint32_t end);
// Programs image[0 ...] at flash addresses start to end; the last page may take bytes past
// `end - start`, so the image holds whole pages (the flash image's storage, or a snapshot of it).
// Before any chip set-up the page size is unknown: the flash is identified first. False when the
// flash stayed busy or a write-enable or program request failed.
bool ProgramRange(CoreState& core, FlashProgress& progress, std::span<const std::uint8_t> image,
                  std::uint32_t start, std::uint32_t end);
// What a scan of the flash reports: the step it is, the address line of each block, and the
// start of the failure text, which the address follows.
struct ScanTexts {
  FlashStep step;
  const char* addressText;  // "Verifying Addr: "
  const char* failText;     // "Verifying Fail at "
};
// The read-back's, as the ISP page has always shown them, and a backup's own.
inline constexpr ScanTexts kReadBackScanTexts{FlashStep::kReadBack,
                                              "Verifying Addr: ", "Verifying Fail at "};
inline constexpr ScanTexts kBackupScanTexts{FlashStep::kBackup,
                                            "Reading Addr: ", "Reading Fail at "};

// Reads start to end into ReadBackBuffer, every block twice.
bool ReadBackRange(CoreState& core, FlashProgress& progress, std::uint32_t start, std::uint32_t end,
                   const ScanTexts& texts = kReadBackScanTexts);

// The read-back dump: lines of sixteen "0xNN, " entries from offset 0 up to `end`, each line
// ended by a single carriage return.
std::string FormatReadBackDump(std::span<const std::uint8_t> buffer, std::uint32_t end);

// Waits 10 ms after an erase instruction, then polls the busy bit up to 1,000 times 10 ms apart;
// `show` renders each poll. True when it cleared; false when it stayed set or the device can no
// longer be reached (then at once).
bool PollErase(CoreState& core, FlashProgress& progress,
               const std::function<void(int poll, std::uint8_t status)>& show);

// The texts of the erase poll: "Flash Erase All " and 0 to 9 full stops, growing every 20 polls.
std::string EraseAllText(int poll);

}  // namespace qv
