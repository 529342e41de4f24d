// libFuzzer target for the BIN loader. The loader's risks sit at the size of the flash, which
// random inputs seldom reach, so the input describes a file instead of being one: the first
// three bytes give its size (big-endian), the rest is its contents, repeated to fill it. The
// file goes to $QV_FUZZ_SCRATCH (else the temporary directory).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "fuzz/LoaderChecks.h"
#include "image/BinLoader.h"

namespace {

std::filesystem::path ScratchFile() {
  const char* dir = std::getenv("QV_FUZZ_SCRATCH");
  std::random_device random;
  const std::string name = "bin-fuzz-" + std::to_string(random()) + ".bin";
  return (dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path()) / name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  // Up to a little past the flash, to cover both sides of its end.
  const std::size_t length = (std::size_t{data[0]} << 16 | data[1] << 8 | data[2]) % 0x40010;
  // Reused between runs: a fresh quarter megabyte each time would slow the fuzzer down tenfold.
  static std::string contents;
  contents.assign(length, '\0');
  const std::size_t period = size - 3;
  for (std::size_t at = 0; period != 0 && at < length; at += period) {
    std::memcpy(contents.data() + at, data + 3, std::min(period, length - at));
  }
  static const std::filesystem::path file = ScratchFile();
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(contents.data(), static_cast<std::streamsize>(length));

  // One image for all runs, as in the program: each load must replace what the last one left.
  static const auto image = std::make_unique<qv::FlashImage>();
  const qv::LoadResult result = qv::LoadBinImage(*image, file);
  if (bool(result) != (length <= qv::kFlashImageSize)) std::abort();
  if (!result) {
    qv::fuzz::CheckRefused(*image, result);
    return 0;
  }
  qv::fuzz::CheckAccepted(*image, result);
  if (image->Length != length) std::abort();
  if (contents.compare(0, length, reinterpret_cast<const char*>(image->Data.data()), length) != 0) {
    std::abort();
  }
  return 0;
}
