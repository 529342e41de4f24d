#include "sim/SpiFlash.h"

#include <algorithm>
#include <bit>

namespace qv::sim {
namespace {

constexpr std::uint8_t kWriteStatus = 0x01, kPageProgram = 0x02, kRead = 0x03, kWriteDisable = 0x04,
                       kReadStatus = 0x05, kWriteEnable = 0x06, kSectorErase = 0x20,
                       kChipErase = 0xC7, kChipErase2 = 0x60, kReadId = 0x9F, kWordProgram = 0xAD;

std::uint32_t Address(std::span<const std::uint8_t> mosi) {
  return (std::uint32_t{mosi[1]} << 16) | (std::uint32_t{mosi[2]} << 8) | mosi[3];
}

}  // namespace

SpiFlash::SpiFlash(const FlashChipModel& model, const Clock& clock)
    : model_(model), clock_(clock), contents_(model.size, 0xFF), status_(model.statusAtDelivery) {}

std::uint8_t SpiFlash::Status() const {
  if (model_.absent) return 0xFF;
  std::uint8_t status = status_;
  if (Busy()) status |= kStatusBusy;
  if (wordProgramming_) status |= kStatusWordProgramming;
  return status;
}

bool SpiFlash::Protected(std::uint32_t address) const {
  // Block protection covers a part at the top of the array that doubles with each level,
  // starting at 64 KiB; all protect bits set cover the whole array.
  const unsigned shift = static_cast<unsigned>(std::countr_zero(model_.protectMask));
  const unsigned level = (status_ & model_.protectMask) >> shift;
  if (level == 0) return false;
  if (level == static_cast<unsigned>(model_.protectMask >> shift)) return true;
  const std::uint64_t covered = std::min<std::uint64_t>(model_.size, 0x10000ull << (level - 1));
  return address >= model_.size - covered;
}

void SpiFlash::StartBusy(std::chrono::microseconds duration) {
  busyUntil_ = clock_.Now() + duration;
}

void SpiFlash::ProgramByte(std::uint32_t address, std::uint8_t value) {
  std::uint8_t& cell = contents_[address % model_.size];
  // Programming can only clear bits; only an erase sets them again.
  const std::uint8_t programmed = cell & value;
  if (programmed != cell) ++changes_;
  cell = programmed;
}

std::vector<std::uint8_t> SpiFlash::Transaction(std::span<const std::uint8_t> mosi,
                                                std::size_t misoCount) {
  // Nothing drives the data line while the flash ignores the instruction: the bridge reads 1s.
  std::vector<std::uint8_t> miso(misoCount, 0xFF);
  if (mosi.empty() || model_.absent) return miso;
  const std::uint8_t op = mosi[0];
  if (op == kReadStatus) {
    std::fill(miso.begin(), miso.end(), Status());
    return miso;
  }
  // A busy part, or one in word-program mode, listens to nothing but the few instructions that
  // belong to that state.
  if (Busy()) return miso;
  if (wordProgramming_ && op != kWordProgram && op != kWriteDisable) return miso;
  switch (op) {
    case kReadId:
      for (std::size_t i = 0; i < misoCount; ++i) miso[i] = model_.jedecId[i % 3];
      break;
    case kRead:
      if (mosi.size() < 4) break;
      for (std::size_t i = 0; i < misoCount; ++i)
        miso[i] = contents_[(Address(mosi) + i) % model_.size];
      break;
    default:
      Execute(mosi);
      break;
  }
  return miso;
}

void SpiFlash::Execute(std::span<const std::uint8_t> mosi) {
  const bool writeEnabled = (status_ & kStatusWriteEnabled) != 0;
  switch (mosi[0]) {
    case kWriteEnable:
      status_ |= kStatusWriteEnabled;
      return;
    case kWriteDisable:
      status_ &= ~kStatusWriteEnabled;
      wordProgramming_ = false;
      return;
    case kWriteStatus:
      if (!writeEnabled || mosi.size() < 2) return;
      if ((status_ & kStatusWriteLock) && writeProtectPin_) return;
      status_ = static_cast<std::uint8_t>((status_ & ~model_.statusWritable) |
                                          (mosi[1] & model_.statusWritable));
      status_ &= ~kStatusWriteEnabled;
      StartBusy(std::chrono::milliseconds(model_.statusWriteMs));
      return;
    case kChipErase:
    case kChipErase2:
      if (!writeEnabled || mosi.size() != 1) return;
      status_ &= ~kStatusWriteEnabled;
      if (AnyProtected()) return;  // a chip erase is refused while any block is protected
      std::fill(contents_.begin(), contents_.end(), 0xFF);
      ++changes_;
      StartBusy(std::chrono::milliseconds(model_.chipEraseMs));
      return;
    case kSectorErase: {
      if (!writeEnabled || mosi.size() != 4) return;
      status_ &= ~kStatusWriteEnabled;
      // The part ignores the address bits below the sector size.
      const std::uint32_t sector = (Address(mosi) % model_.size) & ~(kSectorSize - 1);
      if (Protected(sector)) return;
      std::fill_n(contents_.begin() + sector, kSectorSize, 0xFF);
      ++changes_;
      StartBusy(std::chrono::milliseconds(model_.sectorEraseMs));
      return;
    }
    case kPageProgram: {
      if (!writeEnabled || mosi.size() < 5) return;
      status_ &= ~kStatusWriteEnabled;
      const std::uint32_t address = Address(mosi) % model_.size;
      if (Protected(address)) return;
      auto data = mosi.subspan(4);
      if (model_.byteProgramOnly) {
        data = data.first(1);
      } else if (data.size() > model_.pageSize) {
        data = data.last(model_.pageSize);  // only the last page's worth of bytes stays latched
      }
      // Bytes past the end of the page wrap to its start.
      const std::uint32_t page = address - address % model_.pageSize;
      for (std::size_t i = 0; i < data.size(); ++i)
        ProgramByte(page + (address % model_.pageSize + i) % model_.pageSize, data[i]);
      StartBusy(std::chrono::microseconds(model_.pageProgramUs));
      return;
    }
    case kWordProgram:
      if (model_.wordProgram) WordProgram(mosi);
      return;
    default:
      return;  // an instruction this part does not know
  }
}

void SpiFlash::WordProgram(std::span<const std::uint8_t> mosi) {
  std::span<const std::uint8_t> word;
  if (!wordProgramming_) {
    // The first word carries the start address; the write-enable latch stays set until the
    // host ends the mode with write disable.
    if (!(status_ & kStatusWriteEnabled) || mosi.size() != 6) return;
    wordAddress_ = (Address(mosi) % model_.size) & ~1u;
    word = mosi.subspan(4, 2);
    wordProgramming_ = true;
  } else {
    if (mosi.size() != 3) return;
    word = mosi.subspan(1, 2);
  }
  if (!Protected(wordAddress_)) {
    ProgramByte(wordAddress_, word[0]);
    ProgramByte(wordAddress_ + 1, word[1]);
  }
  wordAddress_ = (wordAddress_ + 2) % model_.size;
  StartBusy(std::chrono::microseconds(model_.wordProgramUs));
}

}  // namespace qv::sim
