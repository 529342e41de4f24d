#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DriverRecords.h"

namespace qv::sim {

// One I/O control call as the simulated drivers saw it.
struct LoggedRequest {
  std::size_t device = 0;            // position of the device on the bus
  std::uint32_t code = 0;            // I/O control code
  std::vector<std::uint8_t> record;  // the raw input record
  bool decoded = false;              // false: a driver refused the record (see refusal)
  std::string refusal;
  drivers::DecodedRequest::Kind kind = drivers::DecodedRequest::Kind::kControl;
  bool deviceToHost = false;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint32_t length = 0;
  std::vector<std::uint8_t> data;   // data stage: bytes sent, or bytes answered
  bool ok = false;                  // what DeviceIoControl reported
  std::chrono::microseconds at{0};  // on the device's own clock
  std::uint64_t sequence = 0;       // the request's place among all the bus's requests
};

// Requests in the order they were made: one device's, or the whole bus's.
class RequestLog {
 public:
  void Add(LoggedRequest entry) {
    if (enabled_) entries_.push_back(std::move(entry));
  }
  // Benchmarks of long sequences switch the log off to measure the code, not the log.
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  void Clear() { entries_.clear(); }

  const std::vector<LoggedRequest>& Entries() const { return entries_; }
  std::size_t Size() const { return entries_.size(); }
  const LoggedRequest& operator[](std::size_t i) const { return entries_[i]; }

 private:
  std::vector<LoggedRequest> entries_;
  bool enabled_ = true;
};

// Records what the driver read from a request: its setup values and, for host-to-device
// requests, the data stage.
void RecordDecoded(LoggedRequest& entry, const drivers::DecodedRequest& request);

// One line for a logged request, e.g. "OUT 90 v=0000 i=0091 len=1 [21] ok".
std::string Describe(const LoggedRequest& entry);
// What was asked, without the outcome ("OUT 90 v=0000 i=0091 len=1 [21]"); a data stage longer
// than `mostData` bytes is cut there and marked with "...".
std::string DescribeAsked(const LoggedRequest& entry, std::size_t mostData = SIZE_MAX);

}  // namespace qv::sim
