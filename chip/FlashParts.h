#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "chip/IspFlash.h"

// The serial-flash parts the tool knows, by their identification, and what it assumes about a
// part it does not know. The update sequences take the page size, the program method and the
// protect value from here; the size checks take the size.
namespace qv {

enum class ProgramMethod {
  kPage,  // page program (0x02) of a whole page per instruction
  kWord,  // auto-address-increment word program (0xAD), two bytes per request
};

struct FlashPart {
  FlashId id;                 // manufacturer, memory type, capacity
  std::string_view name;      // for listings
  std::uint32_t size;         // bytes
  std::uint16_t pageSize;     // bytes programmed per page (or per word-program run)
  ProgramMethod method;       //
  std::uint8_t protectValue;  // the status value that write-protects the whole array
};

std::span<const FlashPart> KnownFlashParts();
// The row of a known identification; nullptr for any other.
const FlashPart* FindFlashPart(const FlashId& id);

// How the tool programs a flash of a given identification.
struct FlashGeometry {
  const FlashPart* part = nullptr;  // the known part, or nullptr
  std::uint16_t pageSize = 256;
  ProgramMethod method = ProgramMethod::kPage;
  std::uint8_t protectValue = 0xFF;
  // The part's size when it is known or the capacity byte tells it; otherwise nothing, and only
  // the 24-bit address space bounds an address.
  std::optional<std::uint32_t> size;
};

// A known part's row; for an unknown id the rule the sequences have always applied (32-byte
// pages for manufacturer 0xC2 with memory type 0x22, word program with protect value 0x7F for
// manufacturer 0xBF, 256-byte page program with 0xFF for everything else) and the size from a
// capacity byte of 0x10 to 0x18 (2 to the power of the byte).
FlashGeometry DescribeFlash(const FlashId& id);

// FF FF FF is a data line nobody drives, 00 00 00 one held low: no flash answered.
bool FlashAnswered(const FlashId& id);

// "EF 40 13 (4 Mbit, 256-byte pages, 512 KiB)" or "12 34 56 (unknown part)" for messages.
std::string DescribeFlashId(const FlashId& id);

}  // namespace qv
