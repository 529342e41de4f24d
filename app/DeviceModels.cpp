#include "app/DeviceModels.h"

#include <algorithm>

#include "util/Text.h"

namespace qv {

namespace {

// Longer texts would not fit with their terminator; the compiler refuses them.
template <std::size_t N>
consteval ModelField Field(const char (&text)[N]) {
  static_assert(N <= kModelFieldSize, "model table text too long for its field");
  ModelField field{};
  for (std::size_t i = 0; i + 1 < N; ++i) field[i] = text[i];
  return field;
}

constexpr DeviceModelRows kTable{{
    {Field("vid_e5d3&pid_7a01"), Field("Brevanto RX1"), Field("Brevanto_RX1")},
    {Field("vid_e5d3&pid_7a02"), Field("Brevanto RX2"), Field("Brevanto_RX2")},
    {Field("vid_e5d3&pid_7a03"), Field("Brevanto T5"), Field("Brevanto_T5")},
    {Field("vid_e5d3&pid_7a04"), Field("Brevanto MB5"), Field("Brevanto_MB5")},
    {Field("vid_e5d3&pid_7a05"), Field("Brevanto MC5"), Field("Brevanto_MC5")},
    {Field("vid_e5d3&pid_7a06"), Field("Brevanto RX1 Pro"), Field("Brevanto_RX1Pro")},
    // These two names end in blanks, and the window shows them so.
    {Field("vid_e5d3&pid_7a07"), Field("Brevanto RX5    "), Field("Brevanto_RX5")},
    {Field("vid_e5d3&pid_7a08"), Field("Brevanto RX3    "), Field("Brevanto_RX3")},
    {Field("vid_e5d3&pid_7a09"), Field("Brevanto MB5 PLUS"), Field("Brevanto_MB5P")},
    {Field("vid_e5d3&pid_7a0a"), Field("Brevanto RX2 PLUS"), Field("Brevanto_RX2P")},
    {Field("vid_e5d3&pid_7a0b"), Field("Brevanto RX1 PLUS"), Field("Brevanto_RX1P")},
    {Field("vid_e5d3&pid_7a0c"), Field("Brevanto RX4"), Field("Brevanto_RX4")},
    {Field("vid_e5d3&pid_7a0d"), Field("Brevanto RX6"), Field("Brevanto_RX6")},
    {Field("vid_e5d3&pid_7a0e"), Field("Brevanto MD1"), Field("Brevanto_MD1")},
    {Field("vid_e5d3&pid_7a0f"), Field("Brevanto RX2s"), Field("Brevanto_RX2s")},
    {Field("vid_e5d3&pid_7a10"), Field("Brevanto RX3s"), Field("Brevanto_RX3s")},
}};

}  // namespace

const DeviceModelRows& DeviceModelTable() {
  return kTable;
}

std::string_view FieldText(const ModelField& field) {
  const auto end = std::find(field.begin(), field.end(), '\0');
  return std::string_view(field.data(), static_cast<std::size_t>(end - field.begin()));
}

std::string_view ModelName(const DeviceModel& model) {
  return TrimRight(FieldText(model.DisplayName));
}

}  // namespace qv
