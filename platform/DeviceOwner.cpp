#include "platform/DeviceOwner.h"

#include <cctype>
#include <cstdio>

namespace qv {

std::string DescribeHolder(const DeviceHolder& holder) {
  if (holder.program.empty()) return "another program";
  if (holder.processId == 0) return holder.program;
  return holder.program + " (process " + std::to_string(holder.processId) + ")";
}

std::string ClaimName(std::string_view key) {
  // FNV-1a over the key as the system compares it: two spellings of one Windows path (which
  // ignores case) must meet at one lock, and two keys must not meet by being cut short.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  std::string readable;
  for (const char c : key) {
#ifdef _WIN32
    const char folded = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#else
    const char folded = c;
#endif
    hash = (hash ^ static_cast<unsigned char>(folded)) * 0x100000001b3ULL;
    readable += std::isalnum(static_cast<unsigned char>(folded)) || folded == '.' || folded == '-'
                    ? folded
                    : '_';
  }
  // The end of a path names the device (its ids and its place); the front is the same for all.
  constexpr std::size_t kReadable = 40;
  if (readable.size() > kReadable) readable.erase(0, readable.size() - kReadable);
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  return readable + "-" + digits;
}

ClaimResult ClaimResult::Held(DeviceClaim claim) {
  ClaimResult result;
  result.claim = std::move(claim);
  return result;
}

ClaimResult ClaimResult::InUse(DeviceHolder holder) {
  ClaimResult result;
  result.inUse = true;
  result.holder = std::move(holder);
  return result;
}

ClaimResult ClaimResult::Failed(std::string error) {
  ClaimResult result;
  result.error = std::move(error);
  return result;
}

}  // namespace qv
