#include "sim/RequestLog.h"

#include <algorithm>
#include <span>

#include "util/Text.h"

namespace qv::sim {

void RecordDecoded(LoggedRequest& entry, const drivers::DecodedRequest& request) {
  entry.decoded = true;
  entry.kind = request.kind;
  entry.deviceToHost = request.deviceToHost;
  entry.request = request.request;
  entry.value = request.value;
  entry.index = request.index;
  entry.length = request.length;
  if (!request.deviceToHost) entry.data.assign(request.outData.begin(), request.outData.end());
}

std::string Describe(const LoggedRequest& entry) {
  return DescribeAsked(entry) + (entry.ok ? " ok" : " failed");
}

std::string DescribeAsked(const LoggedRequest& entry, std::size_t mostData) {
  std::string line;
  if (!entry.decoded) {
    line = "REFUSED code=" + FormatHex(entry.code, 6) + " (" + entry.refusal + ")";
  } else if (entry.kind == drivers::DecodedRequest::Kind::kPropertySupport) {
    line = "PROBE property set support";
  } else if (entry.kind == drivers::DecodedRequest::Kind::kGetDescriptor) {
    line = "PROBE device descriptor len=" + std::to_string(entry.length);
  } else {
    line = std::string(entry.deviceToHost ? "IN  " : "OUT ") + FormatHex(entry.request, 2) +
           " v=" + FormatHex(entry.value, 4) + " i=" + FormatHex(entry.index, 4) +
           " len=" + std::to_string(entry.length);
    if (!entry.data.empty()) {
      const std::size_t shown = std::min(entry.data.size(), mostData);
      line += " [" + FormatHexBytes(std::span(entry.data).first(shown)) +
              (shown < entry.data.size() ? " ...]" : "]");
    }
  }
  return line;
}

}  // namespace qv::sim
