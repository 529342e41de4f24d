// A service bench of four ports, `qvtool update --watch`, with forty simulated devices in real
// time: each port gets ten devices one after another, each plugged in for long enough to be
// updated and then swapped for the next. Prints the devices updated per hour, how long after its
// arrival each device got its first request, and the host CPU time the station took. Then what a
// station costs while it runs all day: the processor time of one that waits for devices, in
// virtual and in real time, and its resident memory after 50 and after 1,000 devices (each count
// a process of its own, on the virtual clock), which should stay flat.
//
//   station_bench [ports] [devices-per-port] [image-bytes]     (defaults: 4, 10 and 8192)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <streambuf>
#include <thread>

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

// Output nobody keeps, as a terminal keeps none: the figures are the station's, not a capture's.
class Discard : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The process's resident memory now, in KiB (VmRSS).
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// `qvtool --simulate=SETUP update --watch --yes ARGS... FILE`, output discarded; ends after
// `seconds` of wall time when the station has not ended by then.
int RunStation(const std::string& setup, std::vector<std::string> args, const std::string& file,
               double seconds) {
  Discard discard;
  std::ostream out(&discard), err(&discard);
  std::istringstream in;
  const qv::cli::ToolStreams streams{.in = in, .out = out, .err = err};
  std::atomic<int> interrupts{0};
  qv::cli::ToolHooks hooks;
  hooks.interrupts = &interrupts;
  std::vector<std::string> command{"--simulate=" + setup, "update", "--watch", "--yes"};
  command.insert(command.end(), args.begin(), args.end());
  command.push_back(file);
  std::jthread stop([&interrupts, seconds](std::stop_token token) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!token.stop_requested() && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!token.stop_requested()) interrupts = 1;
  });
  return qv::cli::RunQvTool(command, streams, hooks);
}

// The station's processor time per second of wall time while it waits for devices that do not
// come, over `seconds`.
double IdleCpuShare(const std::string& setup, const std::string& file, double seconds) {
  const auto wall = std::chrono::steady_clock::now();
  const double cpu = CpuSeconds();
  RunStation(setup, {}, file, seconds);
  return (CpuSeconds() - cpu) /
         std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
}

// A station of four ports on the virtual clock that updates `units` devices, in a process of its
// own: its resident memory at the end, in KiB, and the wall time it took (-1 on a failure).
std::pair<long, double> ResidentAfter(int units, const std::string& file) {
  constexpr int kPorts = 4;
  std::string models, schedules;
  for (int port = 0; port < kPorts; ++port) {
    models += port ? ",Brevanto_RX1" : "Brevanto_RX1";
    std::string schedule;
    for (int k = 0; k < (units + kPorts - 1) / kPorts; ++k) {
      const long in = 100 + port * 10 + k * 5000L;
      schedule += (k ? "+" : "") + std::to_string(in) + "-" + std::to_string(in + 4000);
    }
    schedules += (port ? "," : "") + schedule;
  }
  const std::string setup = "model=" + models + ";latency-us=0;schedule=" + schedules;
  int pipe[2];
  if (::pipe(pipe) != 0) return {-1, 0};
  const auto wall = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe[0]);
    const int status = RunStation(setup, {"--count", std::to_string(units)}, file, 600);
    const long kib = status == 0 ? ResidentKiB() : -1;
    [[maybe_unused]] const auto written = ::write(pipe[1], &kib, sizeof kib);
    ::_exit(0);
  }
  ::close(pipe[1]);
  long kib = -1;
  if (::read(pipe[0], &kib, sizeof kib) != sizeof kib) kib = -1;
  ::close(pipe[0]);
  ::waitpid(child, nullptr, 0);
  return {kib, std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count()};
}

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
  // The arrivals are timed by the devices themselves; the bench reads no request log.
  simulation.Bus().SetLogEnabled(false);

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

  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  // One port waiting, nothing plugged in: the station's processor time is the host's alone.
  std::printf(
      "idle station (no device comes for 2 s): CPU time %.2f%% of the wall time in virtual "
      "time, %.2f%% in real time (target: under 2%%)\n",
      100.0 * IdleCpuShare("model=none", file.string(), 2.0),
      100.0 * IdleCpuShare("model=none;real-time=1", file.string(), 2.0));
  const auto few = ResidentAfter(50, file.string());
  const auto many = ResidentAfter(1000, file.string());
  std::filesystem::remove_all(file.parent_path());
  if (few.first <= 0 || many.first <= 0) {
    std::fprintf(stderr, "station_bench: a station of many devices failed\n");
    return 1;
  }
  std::printf(
      "resident memory: %.1f MiB after 50 devices (%.1f s), %.1f MiB after 1000 (%.1f s): "
      "%.2fx (target: within 1.2x)\n",
      few.first / 1024.0, few.second, many.first / 1024.0, many.second,
      double(many.first) / double(few.first));
  return 0;
}
