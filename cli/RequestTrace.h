#pragma once

#include <ostream>
#include <vector>

#include "platform/DeviceIo.h"

namespace qv::cli {

// Writes one line per I/O control call (`-v`): the record decoded as a driver reads it and
// described by the request log's formatter, so requests to real and simulated devices read alike.
class RequestTrace final : public DeviceIo {
 public:
  // Each line goes to every stream of `outs` (standard error for -v, a file for --log).
  RequestTrace(DeviceIo& inner, std::vector<std::ostream*> outs)
      : inner_(inner), outs_(std::move(outs)) {}

  NativeHandle Open(const char* path) override { return inner_.Open(path); }
  IoResult Control(NativeHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                   std::span<std::uint8_t> output) override;
  void Close(NativeHandle handle) override { inner_.Close(handle); }

 private:
  DeviceIo& inner_;
  std::vector<std::ostream*> outs_;
};

}  // namespace qv::cli
