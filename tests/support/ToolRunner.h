#pragma once

// Runs the built qvtool through the shell in a folder of its own, with standard input from a
// file (never a terminal), and keeps what it printed: for end-to-end tests.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/support/LockFolder.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TestFirmware.h"
#include "tests/support/ToolRun.h"

namespace qv::test {

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
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
    run.out = dir_.Read("stdout.txt");
    run.err = dir_.Read("stderr.txt");
    return run;
  }
  std::string Flash() { return dir_.Read("flash.bin"); }
  void Write(const std::string& name, const std::string& bytes) { dir_.Write(name, bytes); }
  std::string Read(const std::string& name) { return dir_.Read(name); }
  std::string DirPath() const { return dir_.Path().string(); }
  void Remove(const std::string& name) { std::filesystem::remove(dir_.Path() / name); }

  // What the tool is started through ("setpriv ... " to run it as another user); empty: itself.
  void LaunchThrough(std::string launcher) { launcher_ = std::move(launcher); }

  static std::string Sim(const std::string& setup = "") {
    return "--simulate=flash-file=flash.bin" + (setup.empty() ? "" : ";" + setup);
  }

 private:
  LockFolder locks_;
  TempDir dir_;
  std::string launcher_;
};

}  // namespace qv::test
