#include "sim/Catalogue.h"

#include <array>

namespace qv::sim {
namespace {

// The audio products share one vendor id and number their product ids from 0x7A01 upwards, in
// this order.
constexpr std::uint16_t kAudioVendor = 0xE5D3;
constexpr std::uint16_t kFirstAudioProduct = 0x7A01;
constexpr std::array<std::string_view, 16> kAudioProducts = {
    "Brevanto_RX1",  "Brevanto_RX2",    "Brevanto_T5",   "Brevanto_MB5",
    "Brevanto_MC5",  "Brevanto_RX1Pro", "Brevanto_RX5",  "Brevanto_RX3",
    "Brevanto_MB5P", "Brevanto_RX2P",   "Brevanto_RX1P", "Brevanto_RX4",
    "Brevanto_RX6",  "Brevanto_MD1",    "Brevanto_RX2s", "Brevanto_RX3s"};

struct UpdateId {
  std::string_view name;
  std::uint16_t vendorId;
};
constexpr std::array<UpdateId, 2> kUpdateIds = {{{"update-e6a4", 0xE6A4}, {"update-e7b2", 0xE7B2}}};
constexpr std::uint16_t kUpdateProduct = 0x6000;

}  // namespace

std::optional<Identity> IdentityByName(std::string_view name) {
  for (std::size_t i = 0; i < kAudioProducts.size(); ++i) {
    if (kAudioProducts[i] == name)
      return Identity{Identity::Presentation::kAudio, kAudioVendor,
                      static_cast<std::uint16_t>(kFirstAudioProduct + i), std::string(name)};
  }
  for (const auto& id : kUpdateIds) {
    if (id.name == name)
      return Identity{Identity::Presentation::kUpdate, id.vendorId, kUpdateProduct,
                      std::string(name)};
  }
  return std::nullopt;
}

std::string KnownIdentityNames() {
  std::string names;
  for (auto name : kAudioProducts) names += std::string(name) + ", ";
  for (const auto& id : kUpdateIds) names += std::string(id.name) + ", ";
  return names.substr(0, names.size() - 2);
}

}  // namespace qv::sim
