#include "sim/SimSetup.h"

#include <algorithm>
#include <array>
#include <functional>

#include "util/Text.h"

namespace qv::sim {
namespace {

using KeyHandler = std::function<std::string(SimSetup&, std::string_view)>;

std::string ParseModels(SimSetup& setup, std::string_view value) {
  setup.devices.clear();
  if (value == "none") return {};
  // Several devices at once: a comma-separated list, plugged in this order.
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = value.find(',', start);
    const std::string_view name = value.substr(start, comma - start);
    const auto identity = IdentityByName(name);
    if (!identity)
      return "unknown model '" + std::string(name) + "' (known: " + KnownIdentityNames() +
             ", none)";
    setup.devices.push_back(*identity);
    if (comma == std::string_view::npos) return {};
    start = comma + 1;
  }
}

std::string ParseCount(std::optional<std::uint64_t>& field, std::string_view key,
                       std::string_view value) {
  const auto n = ParseUnsigned(value, 10);
  if (!n || *n == 0) return std::string(key) + " needs a whole number of 1 or more";
  field = *n;
  return {};
}

struct Key {
  std::string_view name;
  KeyHandler parse;
};

const std::array<Key, 4>& Keys() {
  static const std::array<Key, 4> keys = {{
      {"model", ParseModels},
      {"fail-after",
       [](SimSetup& s, std::string_view v) { return ParseCount(s.failAfter, "fail-after", v); }},
      {"fail-request",
       [](SimSetup& s, std::string_view v) {
         return ParseCount(s.failRequest, "fail-request", v);
       }},
      {"latency-us",
       [](SimSetup& s, std::string_view v) -> std::string {
         const auto us = ParseUnsigned(v, 10, 10'000'000);
         if (!us) return "latency-us needs microseconds from 0 to 10000000";
         s.latency = std::chrono::microseconds(*us);
         return {};
       }},
  }};
  return keys;
}

}  // namespace

SimSetupResult ParseSimSetup(std::string_view text) {
  SimSetup setup;
  setup.devices.push_back(*IdentityByName("Brevanto_RX1"));
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(';', start), text.size());
    const std::string_view pair = text.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos)
      return {std::nullopt, "setup item '" + std::string(pair) + "' is not key=value"};
    const std::string_view key = pair.substr(0, eq);
    const auto& keys = Keys();
    const auto it =
        std::find_if(keys.begin(), keys.end(), [&](const Key& k) { return k.name == key; });
    if (it == keys.end()) return {std::nullopt, "unknown setup key '" + std::string(key) + "'"};
    if (std::string error = it->parse(setup, pair.substr(eq + 1)); !error.empty())
      return {std::nullopt, error};
  }
  return {setup, {}};
}

Simulation::Simulation(const SimSetup& setup) {
  bus_.SetLatency(setup.latency);
  for (const Identity& identity : setup.devices) {
    SimDevice& device = bus_.Plug(identity);
    if (setup.failAfter) device.GoneAfterRequests(*setup.failAfter);
    if (setup.failRequest) device.FailRequestNumber(*setup.failRequest);
  }
}

}  // namespace qv::sim
