#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "chip/ParameterItems.h"

// The fields of the device's settings record by name, as the command line reads and writes
// them: which byte and bits each is, and the words for its values.
namespace qv::cli {

struct SettingsValue {
  std::string_view word;  // "32", "on", "left-justified" ...
  std::uint8_t bits;      // the field's bits for it
};

struct SettingsField {
  std::string_view name;
  std::size_t byte;
  std::uint8_t mask;
  std::array<SettingsValue, 4> values;  // the first `count` are used
  std::size_t count;
};

std::span<const SettingsField> SettingsFields();

// The word a record holds for a field.
std::string_view FieldWord(const SettingsField& field, const SettingsRecord& record);

// A change as "name=word": the field and its value, or why it is not one.
struct FieldChange {
  const SettingsField* field = nullptr;
  std::uint8_t bits = 0;
};
std::optional<FieldChange> ParseFieldChange(std::string_view text, std::string& error);

void ApplyChange(SettingsRecord& record, const FieldChange& change);

}  // namespace qv::cli
