#include "app/DeviceOwnership.h"

#include <utility>

namespace qv {

DeviceOwnership::DeviceOwnership(ClaimKeyFor keyFor, std::string program)
    : keyFor_(std::move(keyFor)), program_(std::move(program)) {}

bool DeviceOwnership::Own(std::string_view path) {
  const std::string key = keyFor_ ? keyFor_(path) : std::string();
  // Held by key, not by path: two paths of one device must not make the window refuse itself.
  if (key.empty() || claims_.contains(key)) return true;
  ClaimResult result = ClaimDevice(key, program_);
  if (!result.claim.Held()) {
    refusal_ = std::move(result);
    return false;
  }
  claims_.emplace(key, std::move(result.claim));
  return true;
}

}  // namespace qv
