// Prints the fault matrix of the one-click update for an image of any size: every single fault
// a device can show (gone after request n, request n refused) for every n.
//
//   fault_matrix [image-bytes]     (default 4096)

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "bench/BenchFirmware.h"
#include "bench/FaultMatrix.h"

int main(int argc, char** argv) {
  const std::size_t size = argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 4096;
  if (size == 0 || size > 0x40000) {
    std::fprintf(stderr, "usage: fault_matrix [image-bytes from 1 to 262144]\n");
    return 2;
  }
  const std::vector<std::uint8_t> image = qv::bench::RandomFirmware(size, 0x2545F491);
  const qv::bench::FaultMatrix matrix =
      qv::bench::RunFaultMatrix(image, std::filesystem::temp_directory_path());
  std::fputs(qv::bench::FormatFaultMatrix(matrix).c_str(), stdout);
  for (const auto& run : matrix.runs)
    if (qv::bench::IsFalseOutcome(run)) return 1;
  return 0;
}
