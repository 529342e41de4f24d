#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::sim {

// How a device presents itself on the bus: as one of the audio products (reached through the
// audio driver) or with a firmware-update id (reached through the vendor USB driver).
struct Identity {
  enum class Presentation { kAudio, kUpdate };
  Presentation presentation = Presentation::kAudio;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string name;  // the product's file stem, or "update-e6a4" / "update-e7b2"
};

// The products this simulator can play, by name: the audio products' file stems
// ("Brevanto_RX1" ...) and the two update ids ("update-e6a4", "update-e7b2").
std::optional<Identity> IdentityByName(std::string_view name);
// Every name IdentityByName accepts, comma separated, for error messages.
std::string KnownIdentityNames();

}  // namespace qv::sim
