#include "cli/RegisterAccess.h"

#include "util/Text.h"

namespace qv::cli {

std::string Hex2(unsigned value) {
  return "0x" + FormatHex(value, 2);
}

std::optional<std::string> CheckByte(ByteArgument& byte, const char* what) {
  const auto value = ParseNumber(byte.text, 0xFF);
  if (!value)
    return std::string(what) +
           " needs a number from 0 to 255 (0xFF), decimal or hex after 0x, "
           "not '" +
           byte.text + "'";
  byte.value = static_cast<std::uint8_t>(*value);
  return std::nullopt;
}

std::optional<std::string> CheckBytes(const std::vector<std::string>& texts, const char* what,
                                      std::size_t fewest, std::size_t most,
                                      std::vector<std::uint8_t>& out) {
  if (texts.size() < fewest || texts.size() > most)
    return std::string(what) + " takes " + std::to_string(fewest) + " to " + std::to_string(most) +
           " bytes, not " + std::to_string(texts.size());
  out.clear();
  for (const std::string& text : texts) {
    ByteArgument byte{text};
    if (auto error = CheckByte(byte, what)) return error;
    out.push_back(byte.value);
  }
  return std::nullopt;
}

CommandResult ShowRegisterTable(Report& report,
                                const std::array<std::optional<std::uint8_t>, 256>& values,
                                const std::string& what) {
  std::ostream& out = report.Out();
  out << "  ";
  for (int c = 0; c < 16; ++c) out << ' ' << FormatHex(static_cast<unsigned>(c), 2);
  out << '\n';
  for (int r = 0; r < 16; ++r) {
    out << FormatHex(static_cast<unsigned>(r * 16), 2);
    for (int c = 0; c < 16; ++c) {
      const auto& value = values[static_cast<std::size_t>(r * 16 + c)];
      out << ' ' << (value ? FormatHex(*value, 2) : std::string("--"));
    }
    out << '\n';
  }
  nlohmann::json registers = nlohmann::json::array();
  std::size_t failed = 0;
  for (const auto& value : values) {
    registers.push_back(value ? nlohmann::json(*value) : nlohmann::json(nullptr));
    failed += !value;
  }
  report.Document()["registers"] = registers;
  if (failed == 0) return {};
  return {kExitFailed,
          std::to_string(failed) + " of the 256 " + what + " could not be read; they show as --"};
}

}  // namespace qv::cli
