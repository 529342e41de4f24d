// Every program the Windows build ships says what it is, as Explorer's properties and an
// installer read it: the project's version as file and product version, the product's name and
// a description of the program.

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qv {
namespace {

// The programs' paths, from the build, as Unix paths; Wine sees the Unix root as drive Z:.
std::vector<std::string> Programs() {
  std::vector<std::string> paths;
  std::string all = QV_PROGRAMS;
  for (std::size_t start = 0; start <= all.size();) {
    const std::size_t end = std::min(all.find('|', start), all.size());
    std::string path = "Z:" + all.substr(start, end - start);
    for (char& c : path)
      if (c == '/') c = '\\';
    paths.push_back(path);
    start = end + 1;
  }
  return paths;
}

std::string StringValue(const std::vector<char>& info, const std::string& name) {
  void* value = nullptr;
  UINT length = 0;
  const std::string key = "\\StringFileInfo\\040904B0\\" + name;
  if (!VerQueryValueA(info.data(), key.c_str(), &value, &length) || length == 0) return {};
  return std::string(static_cast<const char*>(value), length - 1);
}

TEST(VersionResource, EveryProgramCarriesTheProjectsVersion) {
  const std::string version = QV_VERSION;
  const DWORD major = std::stoul(version);
  const DWORD minor = std::stoul(version.substr(version.find('.') + 1));
  const DWORD patch = std::stoul(version.substr(version.rfind('.') + 1));
  for (const std::string& path : Programs()) {
    SCOPED_TRACE(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
    EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
    EXPECT_EQ(fixed->dwProductVersionMS, (major << 16) | minor);
    EXPECT_EQ(fixed->dwProductVersionLS, patch << 16);
    EXPECT_EQ(StringValue(info, "FileVersion"), version);
    EXPECT_EQ(StringValue(info, "ProductVersion"), version);
    EXPECT_EQ(StringValue(info, "ProductName"), QV_PRODUCT);
    EXPECT_FALSE(StringValue(info, "FileDescription").empty());
    const std::string file = path.substr(path.rfind('\\') + 1);
    EXPECT_EQ(StringValue(info, "OriginalFilename"), file);
  }
}

}  // namespace
}  // namespace qv
