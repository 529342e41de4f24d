// A service bench of four ports, `qvtool update --watch`, with forty simulated devices in real
// time: each port gets ten devices one after another, each plugged in for long enough to be
// updated and then swapped for the next. Prints the devices updated per hour, how long after its
// arrival each device got its first request, and the host CPU time the station took.
//
//   station_bench [ports] [devices-per-port] [image-bytes]     (defaults: 4, 10 and 8192)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchFirmware.h"
#include "cli/DevicePorts.h"
#include "cli/QvTool.h"
#include "sim/SimSetup.h"

namespace {

// A device is plugged in for this long (a one-click update of the default image takes about a
// second in real time) and the next comes this long after it left.
constexpr long kPresentMs = 1600;
constexpr long kSwapMs = 200;
// The ports start a quarter of a second apart, as a person plugs them in one by one.
constexpr long kStaggerMs = 250;

}  // namespace

int main(int argc, char** argv) {
  const int ports = argc > 1 ? std::atoi(argv[1]) : 4;
  const int perPort = argc > 2 ? std::atoi(argv[2]) : 10;
  const std::size_t imageBytes = argc > 3 ? std::stoul(argv[3]) : 8192;
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("qv-station-bench-" + std::to_string(::getpid())) /
                                     "Brevanto_RX1.bin";
  std::filesystem::create_directories(file.parent_path());
  const auto image = qv::bench::RandomFirmware(imageBytes, 0x2468ACE1);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));

  std::string models, schedules;
  for (int port = 0; port < ports; ++port) {
    models += port ? ",Brevanto_RX1" : "Brevanto_RX1";
    std::string schedule;
    for (int k = 0; k < perPort; ++k) {
      const long in = 100 + port * kStaggerMs + k * (kPresentMs + kSwapMs);
      schedule += (k ? "+" : "") + std::to_string(in) + "-" + std::to_string(in + kPresentMs);
    }
    schedules += (port ? "," : "") + schedule;
  }
  const auto setup =
      qv::sim::ParseSimSetup("model=" + models + ";real-time=1;schedule=" + schedules);
  if (!setup.setup) {
    std::fprintf(stderr, "station_bench: %s\n", setup.error.c_str());
    return 2;
  }
  qv::sim::Simulation simulation(*setup.setup);

  std::istringstream in;
  std::ostringstream out, err;
  const qv::cli::ToolStreams streams{.in = in, .out = out, .err = err};
  qv::cli::ToolHooks hooks;
  hooks.ports = [&simulation](const std::optional<std::string>&) {
    return qv::cli::PortsResult{qv::cli::PortsOver(simulation), {}};
  };
  const int devices = ports * perPort;
  const auto wall = std::chrono::steady_clock::now();
  const std::clock_t cpu = std::clock();
  const int status = qv::cli::RunQvTool({"--simulate", "update", "--watch", "--yes", "--count",
                                         std::to_string(devices), file.string()},
                                        streams, hooks);
  const double cpuSeconds = double(std::clock() - cpu) / CLOCKS_PER_SEC;
  const double wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  std::filesystem::remove_all(file.parent_path());
  if (status != 0) {
    std::fprintf(stderr, "%s%s", out.str().c_str(), err.str().c_str());
    return 1;
  }

  std::vector<double> delaysMs;
  for (std::size_t i = 0; i < simulation.Bus().DeviceCount(); ++i)
    for (const auto delay : simulation.Bus().Device(i).FirstRequestDelays())
      delaysMs.push_back(delay.count() / 1000.0);
  std::sort(delaysMs.begin(), delaysMs.end());
  const double median = delaysMs.empty() ? 0 : delaysMs[delaysMs.size() / 2];
  const double worst = delaysMs.empty() ? 0 : delaysMs.back();
  std::printf(
      "station of %d ports, %d simulated devices in real time (%zu-byte image, each plugged in "
      "for %.1f s)\n",
      ports, devices, imageBytes, kPresentMs / 1000.0);
  std::printf("updated %d devices in %.1f s: %.0f devices per hour\n", devices, wallSeconds,
              devices * 3600.0 / wallSeconds);
  std::printf(
      "arrival to first request: median %.1f ms, worst %.1f ms of %zu (target: under "
      "100 ms)\n",
      median, worst, delaysMs.size());
  std::printf("host CPU time: %.2f s = %.1f%% of the wall time\n", cpuSeconds,
              100.0 * cpuSeconds / wallSeconds);
  return 0;
}
