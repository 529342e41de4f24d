#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "chip/ParameterItems.h"

// The fields of the device's settings record by name: which byte and bits each is, and the words
// for its values. qvtool's `settings` reads and writes them by these words, and the Parameter
// page's option controls stand for them.
namespace qv {

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

// The field of that name, or nullptr.
const SettingsField* FindSettingsField(std::string_view name);

// The word a record holds for a field.
std::string_view FieldWord(const SettingsField& field, const SettingsRecord& record);

// Whether the device reports its EEPROM present (byte 3 bit 7, the device's own, never sent).
bool EepromPresent(const SettingsRecord& record);

// A field and the bits of one of its values.
struct FieldChange {
  const SettingsField* field = nullptr;
  std::uint8_t bits = 0;
};

// The change giving the field of that name the value `word`, or none when either is unknown.
std::optional<FieldChange> ChangeTo(std::string_view name, std::string_view word);

// A change as "name=word": the field and its value, or why it is not one.
std::optional<FieldChange> ParseFieldChange(std::string_view text, std::string& error);

void ApplyChange(SettingsRecord& record, const FieldChange& change);

}  // namespace qv
