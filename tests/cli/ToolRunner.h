#pragma once

// Runs the built qvtool through the shell in a folder of its own, with standard input from a
// file (never a terminal), and keeps what it printed: for end-to-end tests.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/HexLoader.h"
#include "tests/cli/ToolRun.h"
#include "tests/image/TempFiles.h"

namespace qv::test {

inline constexpr std::size_t kFlashSize = 0x80000;  // every simulated chip holds 512 KiB

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A firmware image with an erased stretch (whose pages are never sent) and an odd length.
inline std::string Firmware(std::size_t length = 40'003) {
  std::string bytes(length, '\0');
  std::uint32_t x = 0x2545F491;
  for (std::size_t i = 0; i < length; ++i) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(i >= 0x2000 && i < 0x3000 ? 0xFF : x >> 24);
  }
  return bytes;
}

inline std::string AsHex(const std::string& bytes) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data()) + at;
    const std::size_t n = std::min<std::size_t>(16, bytes.size() - at);
    text += HexRecord(0x00, static_cast<std::uint16_t>(at), {data, n}) + "\r\n";
  }
  return text + ":00000001FF\r\n";
}

// The flash an update of `image` must leave: the image, and erased bytes after it.
inline std::string Flashed(const std::string& image) {
  return image + std::string(kFlashSize - image.size(), '\xFF');
}

class QvTool : public ::testing::Test {
 protected:
  // Runs qvtool in the test's directory with standard input from `input` (never a terminal).
  ToolRun Tool(const std::vector<std::string>& args, const std::string& input = "") {
    dir_.Write("stdin.txt", input);
    std::string command =
        "cd " + Quote(dir_.Path().string()) + " && " + launcher_ + Quote(QVTOOL_PATH);
    for (const auto& arg : args) command += " " + Quote(arg);
    command += " <stdin.txt >stdout.txt 2>stderr.txt";
    const int status = std::system(command.c_str());
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(dir_.Path() / "stdout.txt");
    run.err = ReadFile(dir_.Path() / "stderr.txt");
    return run;
  }
  std::string Flash() { return ReadFile(dir_.Path() / "flash.bin"); }
  void Write(const std::string& name, const std::string& bytes) { dir_.Write(name, bytes); }
  std::string Read(const std::string& name) { return ReadFile(dir_.Path() / name); }
  std::string DirPath() const { return dir_.Path().string(); }
  void Remove(const std::string& name) { std::filesystem::remove(dir_.Path() / name); }

  // What the tool is started through ("setpriv ... " to run it as another user); empty: itself.
  void LaunchThrough(std::string launcher) { launcher_ = std::move(launcher); }

  static std::string Sim(const std::string& setup = "") {
    return "--simulate=flash-file=flash.bin" + (setup.empty() ? "" : ";" + setup);
  }

 private:
  TempDir dir_;
  std::string launcher_;
};

#define EXPECT_CONTAINS(text, part) \
  EXPECT_NE((text).find(part), std::string::npos) << "missing \"" << (part) << "\" in:\n" << (text)

}  // namespace qv::test
