// Updates 1, 2, 4 and 8 simulated devices side by side, as `qvtool update --all` does, with the
// devices in real time (each request takes its latency on the wall clock, the flash's busy times
// pass as the tool pauses for them), and prints the wall time of each count of devices, its
// ratio to one device's, and the host CPU time all threads took. Each count runs `runs` times and
// the fastest run stands, so that a moment of load on a shared machine does not decide the ratio.
//
//   update_all_bench [latency-us] [image-bytes] [runs]     (defaults: 250, 65536 and 3)

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchFirmware.h"
#include "cli/QvTool.h"

namespace {

struct Run {
  int status = -1;
  double wallSeconds = 0;
  double cpuSeconds = 0;
};

Run UpdateAll(std::size_t devices, long latencyUs, const std::string& file) {
  std::string models;
  for (std::size_t i = 0; i < devices; ++i) models += (i ? ",Brevanto_RX1" : "Brevanto_RX1");
  const std::string setup =
      "--simulate=model=" + models + ";real-time=1;latency-us=" + std::to_string(latencyUs);
  std::istringstream in;
  std::ostringstream out, err;
  const qv::cli::ToolStreams streams{.in = in, .out = out, .err = err};
  Run run;
  const auto wall = std::chrono::steady_clock::now();
  const std::clock_t cpu = std::clock();  // the process's CPU time: every thread's
  run.status = qv::cli::RunQvTool({setup, "update", "--all", "--yes", file}, streams);
  run.cpuSeconds = double(std::clock() - cpu) / CLOCKS_PER_SEC;
  run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  if (run.status != 0) std::fprintf(stderr, "%s%s", out.str().c_str(), err.str().c_str());
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const long latencyUs = argc > 1 ? std::atol(argv[1]) : 250;
  const std::size_t bytes = argc > 2 ? std::stoul(argv[2], nullptr, 0) : 65536;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  if (latencyUs < 0 || bytes == 0 || bytes > 0x40000 || runs < 1) {
    std::fprintf(stderr,
                 "usage: update_all_bench [latency-us] [image-bytes up to 262144] [runs >= 1]\n");
    return 2;
  }

  const auto dir = std::filesystem::temp_directory_path() /
                   ("qv-update-all-bench-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "Brevanto_RX1.bin").string();
  const auto image = qv::bench::RandomFirmware(bytes, 0x12345678);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));

  std::printf(
      "update --all of a %zu-byte image, devices in real time, request latency %ld us, "
      "host with %u hardware threads, fastest of %d runs\n",
      bytes, latencyUs, std::thread::hardware_concurrency(), runs);
  std::printf("devices   wall time   vs one device   host CPU   CPU/wall\n");
  bool ok = true;
  double one = 0, eight = 0;
  for (const std::size_t devices : {1u, 2u, 4u, 8u}) {
    Run run = UpdateAll(devices, latencyUs, file);
    for (int i = 1; i < runs; ++i) {
      const Run again = UpdateAll(devices, latencyUs, file);
      if (again.status != 0 || (run.status == 0 && again.wallSeconds < run.wallSeconds))
        run = again;
    }
    ok = ok && run.status == 0;
    if (devices == 1) one = run.wallSeconds;
    if (devices == 8) eight = run.wallSeconds;
    std::printf("%7zu   %7.3f s   %12.3fx   %6.3f s   %7.1f%%%s\n", devices, run.wallSeconds,
                run.wallSeconds / one, run.cpuSeconds, 100.0 * run.cpuSeconds / run.wallSeconds,
                run.status == 0 ? "" : "   (failed)");
  }
  std::printf("8 devices take %.3fx the wall time of one (target: within 1.15x)\n", eight / one);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return ok ? 0 : 1;
}
