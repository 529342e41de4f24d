#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace qv {

// Each text of the model table sits in a fixed field of this size, NUL-padded.
inline constexpr std::size_t kModelFieldSize = 20;
using ModelField = std::array<char, kModelFieldSize>;

// One supported device model: how its interface path names it, what the window calls it, and
// the stem of its firmware file in the working directory.
struct DeviceModel {
  ModelField MatchText;
  ModelField DisplayName;
  ModelField FileStem;
};

inline constexpr std::size_t kDeviceModelCount = 16;
using DeviceModelRows = std::array<DeviceModel, kDeviceModelCount>;

// The fixed table of supported models, in probing order.
const DeviceModelRows& DeviceModelTable();

// A field's text up to its first NUL; trailing blanks are part of it.
std::string_view FieldText(const ModelField& field);

// The model's name for listings and messages: its display name without the blanks that two
// names carry for the window's label.
std::string_view ModelName(const DeviceModel& model);

}  // namespace qv
