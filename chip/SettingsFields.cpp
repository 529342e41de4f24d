#include "chip/SettingsFields.h"

#include <sstream>

namespace qv {
namespace {

// Byte 0 holds the audio options, byte 1 bits 5 to 7 the outputs switched off (so "on" is the
// bit clear); byte 3 bit 7 is the device's own report of its EEPROM.
constexpr std::array<SettingsField, 10> kFields = {{
    {.name = "i2s-length",
     .byte = 0,
     .mask = 0x01,
     .values = {{{"32", 0x01}, {"24", 0x00}}},
     .count = 2},
    {.name = "spdif-length",
     .byte = 0,
     .mask = 0x02,
     .values = {{{"32", 0x02}, {"24", 0x00}}},
     .count = 2},
    {.name = "i2s-swap",
     .byte = 0,
     .mask = 0x04,
     .values = {{{"on", 0x04}, {"off", 0x00}}},
     .count = 2},
    {.name = "dsd-swap",
     .byte = 0,
     .mask = 0x08,
     .values = {{{"on", 0x08}, {"off", 0x00}}},
     .count = 2},
    {.name = "mclk",
     .byte = 0,
     .mask = 0x30,
     .values = {{{"128", 0x00}, {"256", 0x10}, {"512", 0x20}, {"1024", 0x30}}},
     .count = 4},
    {.name = "i2s-format",
     .byte = 0,
     .mask = 0x40,
     .values = {{{"standard", 0x00}, {"left-justified", 0x40}}},
     .count = 2},
    {.name = "dsd-out",
     .byte = 0,
     .mask = 0x80,
     .values = {{{"dsd", 0x80}, {"dop", 0x00}}},
     .count = 2},
    {.name = "spdif-out",
     .byte = 1,
     .mask = 0x20,
     .values = {{{"on", 0x00}, {"off", 0x20}}},
     .count = 2},
    {.name = "i2s-out",
     .byte = 1,
     .mask = 0x40,
     .values = {{{"on", 0x00}, {"off", 0x40}}},
     .count = 2},
    {.name = "mclk-out",
     .byte = 1,
     .mask = 0x80,
     .values = {{{"on", 0x00}, {"off", 0x80}}},
     .count = 2},
}};

std::string Words(const SettingsField& field) {
  std::string words;
  for (std::size_t i = 0; i < field.count; ++i) {
    if (i > 0) words += '|';
    words += field.values[i].word;
  }
  return words;
}

}  // namespace

std::span<const SettingsField> SettingsFields() {
  return kFields;
}

const SettingsField* FindSettingsField(std::string_view name) {
  for (const SettingsField& field : kFields)
    if (field.name == name) return &field;
  return nullptr;
}

std::string_view FieldWord(const SettingsField& field, const SettingsRecord& record) {
  const std::uint8_t bits = record[field.byte] & field.mask;
  for (std::size_t i = 0; i < field.count; ++i)
    if (field.values[i].bits == bits) return field.values[i].word;
  return "?";
}

bool EepromPresent(const SettingsRecord& record) {
  return (record[3] & 0x80) != 0;
}

std::optional<FieldChange> ChangeTo(std::string_view name, std::string_view word) {
  const SettingsField* field = FindSettingsField(name);
  if (field == nullptr) return std::nullopt;
  for (std::size_t i = 0; i < field->count; ++i)
    if (field->values[i].word == word) return FieldChange{field, field->values[i].bits};
  return std::nullopt;
}

std::optional<FieldChange> ParseFieldChange(std::string_view text, std::string& error) {
  const std::size_t eq = text.find('=');
  const std::string_view name = text.substr(0, eq);
  if (const SettingsField* field = FindSettingsField(name)) {
    const std::string_view word = eq == std::string_view::npos ? "" : text.substr(eq + 1);
    if (auto change = ChangeTo(name, word)) return change;
    error =
        std::string(name) + " needs one of " + Words(*field) + ", not '" + std::string(word) + "'";
    return std::nullopt;
  }
  std::string names;
  for (const SettingsField& field : kFields) {
    if (!names.empty()) names += ", ";
    names += field.name;
  }
  std::ostringstream message;
  message << '\'' << text << "' is not FIELD=VALUE of a known field (" << names << ')';
  error = message.str();
  return std::nullopt;
}

void ApplyChange(SettingsRecord& record, const FieldChange& change) {
  std::uint8_t& byte = record[change.field->byte];
  byte = static_cast<std::uint8_t>((byte & ~change.field->mask) | change.bits);
}

}  // namespace qv
