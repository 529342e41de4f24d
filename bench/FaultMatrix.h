#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The one-click update through qvtool's own command path, on a simulated device that fails in
// every way a single fault can: gone after n requests, or its n-th request refused, for every n
// up to the requests a clean update takes. No run may report success unless the flash holds the
// image, and every other run must end with a non-zero exit code.
namespace qv::bench {

enum class Fault {
  kGoneAfter,       // the device answers n requests, then leaves the bus
  kFailingRequest,  // the device's n-th request fails
};

struct FaultRun {
  Fault fault;
  std::uint64_t n;
  int exit;
  bool reportedSuccess;  // "Firmware update success!" was shown
  bool flashHoldsImage;
};

struct FaultMatrix {
  std::size_t imageSize = 0;
  std::uint64_t cleanRequests = 0;  // what an update takes when nothing fails
  std::vector<FaultRun> runs;
};

// A run that claims what the device does not show: success without the image in the flash, an
// exit code of 0 without the success text, or the success text with a failing exit code.
bool IsFalseOutcome(const FaultRun& run);

// Runs every n of both faults for an image of `image` (written to `folder` as a firmware file).
FaultMatrix RunFaultMatrix(const std::vector<std::uint8_t>& image,
                           const std::filesystem::path& folder);

// One row per fault: runs, successes, the exit codes of the failures, and false outcomes (with
// the first few n that gave one).
std::string FormatFaultMatrix(const FaultMatrix& matrix);

}  // namespace qv::bench
