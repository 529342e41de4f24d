#include "sim/RequestLog.h"

#include "util/Text.h"

namespace qv::sim {

std::string Describe(const LoggedRequest& entry) {
  std::string line;
  if (!entry.decoded) {
    line = "REFUSED code=" + FormatHex(entry.code, 6) + " (" + entry.refusal + ")";
  } else if (entry.kind == DecodedRequest::Kind::kPropertySupport) {
    line = "PROBE property set support";
  } else if (entry.kind == DecodedRequest::Kind::kGetDescriptor) {
    line = "PROBE device descriptor len=" + std::to_string(entry.length);
  } else {
    line = std::string(entry.deviceToHost ? "IN  " : "OUT ") + FormatHex(entry.request, 2) +
           " v=" + FormatHex(entry.value, 4) + " i=" + FormatHex(entry.index, 4) +
           " len=" + std::to_string(entry.length);
    if (!entry.data.empty()) line += " [" + FormatHexBytes(entry.data) + "]";
  }
  return line + (entry.ok ? " ok" : " failed");
}

}  // namespace qv::sim
