// A 256 KiB update of the simulated device captured, then replayed: prints the capture's size
// (and how well it compresses, as a user would send it), and the wall time of the plain update,
// of the update while capturing and of the replay. Each runs `runs` times; the fastest stands.
//
//   capture_bench [image-bytes] [runs]     (defaults: 262144 and 3)

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchFirmware.h"
#include "cli/QvTool.h"

namespace {

// The fastest of `runs` runs of the tool with `args`, in seconds; negative when one failed.
double Fastest(int runs, const std::vector<std::string>& args) {
  double best = -1;
  for (int i = 0; i < runs; ++i) {
    std::istringstream in;
    std::ostringstream out, err;
    const qv::cli::ToolStreams streams{.in = in, .out = out, .err = err};
    const auto started = std::chrono::steady_clock::now();
    const int status = qv::cli::RunQvTool(args, streams);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (status != 0) {
      std::fprintf(stderr, "%s%s", out.str().c_str(), err.str().c_str());
      return -1;
    }
    if (best < 0 || seconds < best) best = seconds;
  }
  return best;
}

std::size_t CompressedSize(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uLongf size = compressBound(text.size());
  std::vector<Bytef> packed(size);
  compress2(packed.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(), 6);
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t bytes = argc > 1 ? std::stoul(argv[1], nullptr, 0) : 0x40000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  if (bytes == 0 || bytes > 0x40000 || runs < 1) {
    std::fprintf(stderr, "usage: capture_bench [image-bytes up to 262144] [runs >= 1]\n");
    return 2;
  }
  const auto dir = std::filesystem::temp_directory_path() /
                   ("qv-capture-bench-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "Brevanto_RX1.bin").string();
  const std::string capture = (dir / "update.jsonl").string();
  const auto image = qv::bench::RandomFirmware(bytes, 0x12345678);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));

  const double plain = Fastest(runs, {"--simulate", "update", "--yes", file});
  const double capturing =
      Fastest(runs, {"--simulate", "--capture", capture, "update", "--yes", file});
  const double replay = Fastest(runs, {"--simulate=replay=" + capture, "update", "--yes", file});
  const bool ok = plain >= 0 && capturing >= 0 && replay >= 0;
  if (ok) {
    const auto size = std::filesystem::file_size(capture);
    std::printf("capture of a %zu-byte update: %.1f MiB, %.2f MiB compressed (zlib level 6)\n",
                bytes, size / 1048576.0, CompressedSize(capture) / 1048576.0);
    std::printf(
        "wall time, fastest of %d: simulated device %.3f s, capturing %.3f s, "
        "replay %.3f s (%.1fx the simulated device)\n",
        runs, plain, capturing, replay, replay / plain);
  }
  std::filesystem::remove_all(dir);
  return ok ? 0 : 1;
}
