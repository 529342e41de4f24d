#pragma once

#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/DeviceIo.h"
#include "util/StreamedFile.h"

namespace qv::cli {

// Writes one line per I/O control call (`-v`): the record decoded as a driver reads it and
// described by the request log's formatter, so requests to real and simulated devices read alike.
// Devices driven side by side on their own threads each write whole lines, led by the device's
// label once it has one.
class RequestTrace final : public DeviceIo {
 public:
  // Each line goes to every stream of `outs` (standard error for -v) and to `file` (--log), where
  // there is one, as the request is answered.
  RequestTrace(DeviceIo& inner, std::vector<std::ostream*> outs, StreamedFile* file = nullptr)
      : inner_(inner), outs_(std::move(outs)), file_(file) {}

  // Lines of the device at `path` start with "label: " from now on.
  void Label(const std::string& path, std::string label);

  NativeHandle Open(const char* path) override;
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override;
  void Close(NativeHandle handle) override;

 private:
  DeviceIo& inner_;
  std::vector<std::ostream*> outs_;
  StreamedFile* file_;
  std::mutex mutex_;
  std::map<std::string, std::string> labels_;   // by path
  std::map<NativeHandle, std::string> opened_;  // the path of each open handle
};

}  // namespace qv::cli
