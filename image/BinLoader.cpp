#include "image/BinLoader.h"

#include <algorithm>
#include <fstream>

namespace qv {
namespace {

LoadResult Refuse(FlashImage& image, std::string reason) {
  EraseImage(image);
  return LoadResult::Failure(std::move(reason));
}

LoadResult TooLarge(FlashImage& image) {
  return Refuse(image, "the file is larger than the 256 KiB firmware image (" +
                           std::to_string(kFlashImageSize) + " bytes)");
}

LoadResult ReadBin(FlashImage& image, const std::filesystem::path& path) {
  EraseImage(image);
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) return Refuse(image, "the file cannot be opened");
  file.read(reinterpret_cast<char*>(image.Data.data()), kFlashImageSize);
  const auto length = static_cast<std::uint32_t>(file.gcount());
  // One byte more than the flash holds is enough to know the image would be cut.
  const bool more = length == kFlashImageSize && file.peek() != std::ifstream::traits_type::eof();
  if (file.bad()) return Refuse(image, "the file cannot be read");
  if (more) return TooLarge(image);
  image.Length = length;
  return LoadResult::Success(ImageChecksum(image));
}

}  // namespace

LoadResult LoadBinBytes(FlashImage& image, std::span<const char> bytes) {
  EraseImage(image);
  if (bytes.size() > kFlashImageSize) return TooLarge(image);
  std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(image.Data.data()));
  image.Length = static_cast<std::uint32_t>(bytes.size());
  return LoadResult::Success(ImageChecksum(image));
}

LoadResult LoadBinImage(FlashImage& image, const std::filesystem::path& path) {
  LoadResult result = ReadBin(image, path);
  result.FileName = DisplayName(path);
  return result;
}

}  // namespace qv
