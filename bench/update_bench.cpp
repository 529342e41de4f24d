// Runs the one-click update of a full 256 KiB image on the simulated device with a modelled USB
// request latency and prints what it cost: requests by kind, modelled device and pause time,
// host CPU time, and the lower bound that the protocol's fixed requests and pauses allow.
//
//   update_bench [latency-us] [flash-id]     (defaults: 125 and EF4013)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>

#include "bench/BenchFirmware.h"
#include "flash/UpdateSequence.h"
#include "sim/FlashChips.h"
#include "sim/SimSetup.h"

namespace {

using std::chrono::duration;
using std::chrono::microseconds;

class QuietProgress : public qv::UpdateProgress {
 public:
  void Show(Label, const std::string&) override {}
  void Status(const std::string&, Style) override {}
  void ProcessMessages() override {}
};

struct Run {
  bool success = false;
  microseconds modelled{0};
  microseconds slept{0};
  double cpuSeconds = 0;
  std::map<std::string, std::size_t> requests;
  std::size_t total = 0;
};

std::string KindOf(const qv::sim::LoggedRequest& e) {
  static const std::map<int, std::string> kNames = {
      {0x80, "0x80 flash write"},    {0x81, "0x81 flash command"}, {0x82, "0x82 fetch answer"},
      {0x83, "0x83 ready poll"},     {0x84, "0x84 enter ISP"},     {0x85, "0x85 leave ISP"},
      {0x90, "0x90 write register"}, {0x91, "0x91 read register"}};
  const auto it = kNames.find(e.request);
  return it == kNames.end() ? "other" : it->second;
}

void FillImage(qv::FlashImage& image) {
  const auto firmware = qv::bench::RandomFirmware(image.Data.size(), 0x12345678);
  std::copy(firmware.begin(), firmware.end(), image.Data.begin());
  image.Length = static_cast<std::uint32_t>(image.Data.size());
}

Run Update(const std::string& setupText, bool log) {
  auto parsed = qv::sim::ParseSimSetup(setupText);
  if (!parsed.setup) {
    std::fprintf(stderr, "bad setup: %s\n", parsed.error.c_str());
    std::exit(2);
  }
  qv::sim::Simulation sim(*parsed.setup);
  sim.Bus().SetLogEnabled(log);
  qv::CoreState core(sim.Bus(), sim.Bus(), sim.Clock());
  core.UsbDevice.SetUseAudioDriver(1);
  core.UsbDevice.SetMatchId("vid_e5d3&pid_7a01");
  core.UsbDevice.FindDevice();
  FillImage(core.FlashImage);
  sim.Bus().ClearLog();

  QuietProgress progress;
  Run run;
  const auto start = sim.Clock().Now();
  const auto slept = sim.Clock().Slept();
  const std::clock_t cpu = std::clock();
  run.success = qv::RunOneClickUpdate(core, progress).success;
  run.cpuSeconds = double(std::clock() - cpu) / CLOCKS_PER_SEC;
  run.modelled = sim.Clock().Now() - start;
  run.slept = sim.Clock().Slept() - slept;
  for (const auto& e : sim.Bus().Log().Entries()) ++run.requests[KindOf(e)];
  run.total = sim.Bus().Log().Size();
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const long latencyUs = argc > 1 ? std::atol(argv[1]) : 125;
  const std::string flash = argc > 2 ? argv[2] : "EF4013";
  const std::string setup = "flash=" + flash + ";latency-us=" + std::to_string(latencyUs);
  const auto* model = qv::sim::FindFlashChip(
      {static_cast<std::uint8_t>(std::stoul(flash.substr(0, 2), nullptr, 16)),
       static_cast<std::uint8_t>(std::stoul(flash.substr(2, 2), nullptr, 16)),
       static_cast<std::uint8_t>(std::stoul(flash.substr(4, 2), nullptr, 16))});
  if (!model || model->wordProgram) {
    std::fprintf(stderr, "the lower bound below is worked out for page-program parts\n");
    return 2;
  }

  const Run counted = Update(setup, true);
  const Run timed = Update(setup, false);

  // The fewest requests the sequence can make when every poll is answered at once:
  // ISP entry (switch + 3 set-up registers), identification (command, poll, fetch), clear status
  // (status read, write enable, status write, one status read of the wait), erase (write enable,
  // erase, one status read), blank check and verify (command, poll, fetch per 64-byte block),
  // per page (status read of the busy wait, write enable, two program requests, one ready poll),
  // protect (write enable, status write, one status read) and ISP exit (switch + 2 registers).
  const std::size_t blocks = qv::kFlashImageSize / 64;
  const std::size_t pages = qv::kFlashImageSize / 256;
  const std::size_t statusRead = 3;
  const std::size_t minRequests = 4 + 3 + (statusRead + 2 + statusRead) + (2 + statusRead) +
                                  blocks * 3 + pages * (statusRead + 1 + 2 + 1) + blocks * 3 +
                                  (2 + statusRead) + 3;
  // Fixed pauses: 10 ms after the erase instruction and 1 ms before each page's first ready poll.
  // The device's own busy time adds what no pause overlaps: the chip erase and two status writes.
  const double lowerBound = minRequests * latencyUs / 1e6 + 0.010 + pages * 0.001 +
                            std::max(0.0, model->chipEraseMs / 1e3 - 0.010) +
                            2 * model->statusWriteMs / 1e3;

  const double modelled = duration<double>(timed.modelled).count();
  std::printf("one-click update of 256 KiB, flash %s, request latency %ld us: %s\n", flash.c_str(),
              latencyUs, timed.success ? "Firmware update success!" : "Firmware update Fail!");
  std::printf(
      "requests: %zu (fewest possible %zu, %+zd: status polls while the flash was busy)\n",
      counted.total, minRequests,
      static_cast<std::ptrdiff_t>(counted.total) - static_cast<std::ptrdiff_t>(minRequests));
  for (const auto& [kind, n] : counted.requests) std::printf("  %-22s %8zu\n", kind.c_str(), n);
  std::printf("modelled time: %.3f s (requests %.3f s, pauses %.3f s)\n", modelled,
              modelled - duration<double>(timed.slept).count(),
              duration<double>(timed.slept).count());
  std::printf("lower bound:   %.3f s; modelled time is %.2f%% above it\n", lowerBound,
              100.0 * (modelled - lowerBound) / lowerBound);
  std::printf("host CPU time: %.3f s = %.3f%% of the modelled time\n", timed.cpuSeconds,
              100.0 * timed.cpuSeconds / modelled);
  return timed.success ? 0 : 1;
}
