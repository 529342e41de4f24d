// Times loading a full 256 KiB firmware image from a HEX and from a BIN file, the way the update
// panel loads it: from disk, into the flash image, checksum included.
//
//   image_bench [loads]        (default 50 loads of each file)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "image/BinLoader.h"
#include "image/HexLoader.h"

namespace {

using Clock = std::chrono::steady_clock;

// HEX as firmware tools write it: 16 data bytes a record, an address record every 64 KiB, CR LF.
std::string HexFile(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    if (at % 0x10000 == 0) {
      const std::uint8_t upper[] = {0x00, static_cast<std::uint8_t>(at >> 16)};
      text += qv::HexRecord(0x04, 0, upper) + "\r\n";
    }
    const auto data = std::span(bytes).subspan(at, 16);
    text += qv::HexRecord(0x00, static_cast<std::uint16_t>(at), data) + "\r\n";
  }
  return text + qv::HexRecord(0x01, 0, {}) + "\r\n";
}

void WriteFile(const std::filesystem::path& path, const void* bytes, std::size_t size) {
  std::ofstream(path, std::ios::binary)
      .write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
}

// Runs `load` `count` times and prints the mean and the fastest time per load.
bool Measure(const char* what, int count, const std::function<qv::LoadResult()>& load) {
  std::vector<double> ms;
  std::uint16_t checksum = 0;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    const qv::LoadResult result = load();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (!result) {
      std::fprintf(stderr, "%s: %s\n", what, result.Message().c_str());
      return false;
    }
    checksum = result.Checksum;
  }
  double total = 0;
  for (double m : ms) total += m;
  std::printf("%-28s mean %7.3f ms  min %7.3f ms  (checksum 0x%04X, %d loads)\n", what,
              total / count, *std::min_element(ms.begin(), ms.end()), checksum, count);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

  std::vector<std::uint8_t> bytes(qv::kFlashImageSize);
  std::mt19937 random(1);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  const std::string hex = HexFile(bytes);

  std::random_device seed;
  const auto dir = std::filesystem::temp_directory_path() / ("qv-bench-" + std::to_string(seed()));
  std::filesystem::create_directories(dir);
  WriteFile(dir / "full.hex", hex.data(), hex.size());
  WriteFile(dir / "full.bin", bytes.data(), bytes.size());
  std::printf("image 262144 bytes; HEX file %zu bytes\n", hex.size());

  auto image = std::make_unique<qv::FlashImage>();
  const bool ok =
      Measure("LoadHexImage (file)", count,
              [&] { return qv::LoadHexImage(*image, dir / "full.hex"); }) &&
      Measure("LoadHexText (in memory)", count, [&] { return qv::LoadHexText(*image, hex); }) &&
      Measure("LoadBinImage (file)", count,
              [&] { return qv::LoadBinImage(*image, dir / "full.bin"); });

  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return ok ? 0 : 1;
}
