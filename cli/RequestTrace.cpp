#include "cli/RequestTrace.h"

#include <algorithm>

#include "platform/DriverRecords.h"
#include "sim/RequestLog.h"

namespace qv::cli {

void RequestTrace::Label(const std::string& path, std::string label) {
  std::lock_guard lock(mutex_);
  labels_[path] = std::move(label);
}

NativeHandle RequestTrace::Open(const char* path) {
  const NativeHandle handle = inner_.Open(path);
  if (handle != kInvalidHandle && handle != kNoHandle) {
    std::lock_guard lock(mutex_);
    opened_[handle] = path;
  }
  return handle;
}

void RequestTrace::Close(NativeHandle handle) {
  inner_.Close(handle);
  std::lock_guard lock(mutex_);
  opened_.erase(handle);
}

IoResult RequestTrace::Control(NativeHandle handle, std::uint32_t code,
                               std::span<const std::uint8_t> input,
                               std::span<std::uint8_t> output) {
  sim::LoggedRequest entry;
  entry.code = code;
  entry.record.assign(input.begin(), input.end());
  const auto request = drivers::DecodeRequest(code, input, output, entry.refusal);
  // Taken before the call: the data stage may share the buffer the driver answers into.
  if (request) sim::RecordDecoded(entry, *request);

  const IoResult result = inner_.Control(handle, code, input, output);
  entry.ok = result.ok;
  if (request && request->deviceToHost && result.ok) {
    // Only what the driver says it returned is the answer; a short one failed the request, as the
    // connection takes it, and the bytes past it are whatever the buffer held before.
    const std::size_t n = std::min<std::size_t>(
        {request->length, output.size(), static_cast<std::size_t>(result.bytesReturned)});
    entry.ok = n >= request->length;
    entry.data.assign(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(n));
  }
  std::string line = sim::Describe(entry) + '\n';
  std::lock_guard lock(mutex_);
  if (const auto path = opened_.find(handle); path != opened_.end()) {
    if (const auto label = labels_.find(path->second); label != labels_.end())
      line = label->second + ": " + line;
  }
  for (std::ostream* out : outs_) *out << line << std::flush;
  if (file_) file_->Write(line);
  return result;
}

}  // namespace qv::cli
