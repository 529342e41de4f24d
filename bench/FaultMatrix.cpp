#include "bench/FaultMatrix.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "cli/DevicePorts.h"
#include "cli/QvTool.h"
#include "sim/SimSetup.h"

namespace qv::bench {
namespace {

constexpr const char* kSuccessText = "Firmware update success!";

struct Outcome {
  int exit = -1;
  std::string out;
  bool flashHoldsImage = false;
  std::uint64_t requests = 0;
};

Outcome Update(const std::filesystem::path& file, const std::vector<std::uint8_t>& image,
               const std::string& setup) {
  const sim::SimSetupResult parsed = sim::ParseSimSetup(setup);
  sim::Simulation simulation(*parsed.setup);
  simulation.Bus().SetLogEnabled(false);
  std::istringstream in;
  std::ostringstream out, err;
  const cli::ToolStreams streams{.in = in, .out = out, .err = err};
  cli::ToolHooks hooks;
  hooks.ports = [&](const std::optional<std::string>&) {
    return cli::PortsResult{cli::PortsOver(simulation), {}};
  };
  Outcome outcome;
  outcome.exit = cli::RunQvTool({"--simulate", "update", "--yes", file.string()}, streams, hooks);
  outcome.out = out.str();
  const auto contents = simulation.Bus().Device(0).Chip().Flash().Contents();
  outcome.flashHoldsImage = std::equal(image.begin(), image.end(), contents.begin());
  outcome.requests = simulation.Bus().Device(0).RequestCount();
  return outcome;
}

const char* FaultName(Fault fault) {
  return fault == Fault::kGoneAfter ? "device gone after request n" : "request n fails";
}

}  // namespace

bool IsFalseOutcome(const FaultRun& run) {
  if (run.reportedSuccess && !run.flashHoldsImage) return true;
  return (run.exit == 0) != run.reportedSuccess;
}

FaultMatrix RunFaultMatrix(const std::vector<std::uint8_t>& image,
                           const std::filesystem::path& folder) {
  const std::filesystem::path file = folder / "fault-matrix.bin";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  FaultMatrix matrix;
  matrix.imageSize = image.size();
  matrix.cleanRequests = Update(file, image, "").requests;
  for (Fault fault : {Fault::kGoneAfter, Fault::kFailingRequest}) {
    const std::string key = fault == Fault::kGoneAfter ? "fail-after=" : "fail-request=";
    for (std::uint64_t n = 1; n <= matrix.cleanRequests; ++n) {
      const Outcome outcome = Update(file, image, key + std::to_string(n));
      matrix.runs.push_back({fault, n, outcome.exit,
                             outcome.out.find(kSuccessText) != std::string::npos,
                             outcome.flashHoldsImage});
    }
  }
  std::filesystem::remove(file);
  return matrix;
}

std::string FormatFaultMatrix(const FaultMatrix& matrix) {
  std::ostringstream text;
  text << "fault matrix: update of a " << matrix.imageSize << "-byte image; a clean update takes "
       << matrix.cleanRequests << " requests\n";
  text << "fault                         runs  success  exit 1  exit 3  other  false outcomes\n";
  for (Fault fault : {Fault::kGoneAfter, Fault::kFailingRequest}) {
    std::size_t runs = 0, success = 0, other = 0;
    std::map<int, std::size_t> exits;
    std::vector<std::uint64_t> falseAt;
    for (const FaultRun& run : matrix.runs) {
      if (run.fault != fault) continue;
      ++runs;
      if (IsFalseOutcome(run)) falseAt.push_back(run.n);
      if (run.exit == 0) {
        ++success;
      } else if (run.exit == 1 || run.exit == 3) {
        ++exits[run.exit];
      } else {
        ++other;
      }
    }
    char row[160];
    std::snprintf(row, sizeof row, "%-28s %5zu  %7zu  %6zu  %6zu  %5zu  %zu", FaultName(fault),
                  runs, success, exits[1], exits[3], other, falseAt.size());
    text << row;
    for (std::size_t i = 0; i < std::min<std::size_t>(falseAt.size(), 5); ++i)
      text << (i == 0 ? " (n = " : ", ") << falseAt[i]
           << (i + 1 == std::min<std::size_t>(falseAt.size(), 5) ? ")" : "");
    text << '\n';
  }
  return text.str();
}

}  // namespace qv::bench
