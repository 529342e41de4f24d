// The regression corpus (tests/captures/): each case's capture, made from the simulated device,
// replayed with today's qvtool must give what the run that made it gave: the same standard output
// and error, exit code and written files. A change of any request, its order or its bytes, fails
// here until the capture is made again on purpose.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ToolRunner.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = QV_CAPTURES_DIR;

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(kCorpus))
    if (fs::exists(entry.path() / "case")) names.push_back(entry.path().filename().string());
  std::ranges::sort(names);
  return names;
}

// The case's command line, the simulated device it was made on replaced by its capture.
std::vector<std::string> ReplayArgs(const fs::path& folder) {
  std::ifstream in(folder / "case");
  std::vector<std::string> args;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string word;
    if (!(words >> word) || word != "args") continue;
    while (words >> word)
      args.push_back(word.starts_with("--simulate")
                         ? "--simulate=replay=" + (folder / "capture.jsonl").string()
                         : word);
  }
  return args;
}

std::set<std::string> FileNames(const fs::path& folder) {
  std::set<std::string> names;
  if (fs::is_directory(folder))
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
      names.insert(entry.path().filename().string());
  return names;
}

class CaptureCorpus : public QvTool, public ::testing::WithParamInterface<std::string> {};

TEST_P(CaptureCorpus, ReplaysToWhatItsRunGave) {
  const fs::path folder = kCorpus / GetParam();
  ASSERT_TRUE(fs::exists(folder / "capture.jsonl"));
  const std::set<std::string> inputs = FileNames(folder / "in");
  for (const std::string& name : inputs) Write(name, ReadFile(folder / "in" / name));

  const ToolRun run = Tool(ReplayArgs(folder));
  EXPECT_EQ(run.out, ReadFile(folder / "stdout"));
  EXPECT_EQ(run.err, ReadFile(folder / "stderr"));
  EXPECT_EQ(std::to_string(run.status) + "\n", ReadFile(folder / "exit"));

  // Whatever the run left that is not an input as it was, nor the runner's own, it wrote.
  std::set<std::string> written;
  for (const std::string& name : FileNames(DirPath())) {
    if (name == "stdin.txt" || name == "stdout.txt" || name == "stderr.txt") continue;
    if (inputs.contains(name) && Read(name) == ReadFile(folder / "in" / name)) continue;
    written.insert(name);
    EXPECT_TRUE(Read(name) == ReadFile(folder / "out" / name)) << name << " differs";
  }
  EXPECT_EQ(written, FileNames(folder / "out"));

  if (HasFailure())
    ADD_FAILURE() << "The replay of tests/captures/" << GetParam()
                  << " no longer gives what the run that made its capture gave. If the change of "
                     "the tool's requests or output is meant, run scripts/make-captures and commit "
                     "the captures it names as changed.";
}

INSTANTIATE_TEST_SUITE_P(Corpus, CaptureCorpus, ::testing::ValuesIn(CaseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::ranges::replace(name, '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace qv::test
