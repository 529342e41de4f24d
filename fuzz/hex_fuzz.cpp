// libFuzzer target for the HEX loader: any bytes as a file's contents.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "fuzz/LoaderChecks.h"
#include "image/HexLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One image for all runs, as in the program: each load must replace what the last one left.
  static const auto image = std::make_unique<qv::FlashImage>();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const qv::LoadResult result = qv::LoadHexText(*image, text);
  if (result) {
    qv::fuzz::CheckAccepted(*image, result);
  } else {
    qv::fuzz::CheckRefused(*image, result);
  }
  return 0;
}
