#pragma once

#include <string>

#include "sim/RequestLog.h"
#include "util/Text.h"

namespace qv::test {

// The register requests of a log as one line: "W10=C0" a write of 0xC0 to 0x10, "R10" a read
// of 0x10, "fail" a request the device refused. Expected traces read like the bus steps.
inline std::string Trace(const sim::RequestLog& log) {
  std::string text;
  for (const auto& entry : log.Entries()) {
    if (!text.empty()) text += ' ';
    if (!entry.ok) {
      text += "fail";
    } else {
      text += entry.deviceToHost ? 'R' : 'W';
      text += FormatHex(entry.index, 2);
      if (!entry.deviceToHost) {
        text += '=';
        text += FormatHex(entry.data.empty() ? 0 : entry.data[0], 2);
      }
    }
  }
  return text;
}

// Joins trace pieces with blanks, skipping empty ones.
inline std::string Steps(std::initializer_list<std::string> pieces) {
  std::string text;
  for (const auto& piece : pieces) {
    if (piece.empty()) continue;
    if (!text.empty()) text += ' ';
    text += piece;
  }
  return text;
}

}  // namespace qv::test
