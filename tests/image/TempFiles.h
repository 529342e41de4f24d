#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "image/FlashImage.h"

namespace qv::test {

// A directory of its own for each test, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("qv-image-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::filesystem::path Write(const std::string& name, std::string_view bytes) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return file;
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// An image as left by an earlier successful load, so tests see whether a load replaces it.
inline std::unique_ptr<FlashImage> StaleImage() {
  auto image = std::make_unique<FlashImage>();
  image->Data.fill(0x5A);
  image->Length = 0x1234;
  return image;
}

inline bool AllErased(const FlashImage& image) {
  for (std::uint8_t b : image.Data)
    if (b != 0xFF) return false;
  return true;
}

}  // namespace qv::test
