// The steps and the failure qvtool reports come from the flash layer's values: texts in other
// words would give the same steps, names, failure and address.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/ProgressBar.h"
#include "cli/Report.h"
#include "cli/Station.h"

namespace qv::test {
namespace {

using Kind = FlashEvent::Kind;
using std::chrono::seconds;

// A failed verify after an erase polled three times, each event worded as no code reads it.
void ReportUnusualWords(UpdateProgress& progress) {
  progress.ReportStatus({.step = FlashStep::kErase, .kind = Kind::kStart, .text = "Löschen "});
  progress.ReportStatus({.step = FlashStep::kErase, .kind = Kind::kStart, .text = "Löschen ."});
  progress.ReportStatus({.step = FlashStep::kErase, .kind = Kind::kStart, .text = "Löschen .."});
  progress.ReportStatus({.step = FlashStep::kErase, .kind = Kind::kSuccess, .text = "gelöscht"});
  progress.ReportStatus({.step = FlashStep::kVerify, .kind = Kind::kStart, .text = "Vergleich"});
  progress.Report(
      {.step = FlashStep::kVerify, .kind = Kind::kFailure, .address = 0x1C0, .text = "anders"});
  progress.ReportStatus({.step = FlashStep::kResult, .kind = Kind::kFailure, .text = "nein"});
}

TEST(StepReport, StepsFailureAndAddressComeFromTheValuesNotTheWords) {
  std::ostringstream plain;
  std::vector<cli::Step> steps;
  {
    cli::ProgressBar progress(plain, false);
    seconds now{0};
    progress.RecordSteps(&steps, [&now] { return now += seconds(1); });
    ReportUnusualWords(progress);
  }
  // The erase's polls are one step, one line; its first text stands for it.
  EXPECT_EQ(plain.str(), "Löschen\ngelöscht\nVergleich\nanders\nnein\n");

  nlohmann::json document;
  cli::AddSteps(document, steps, seconds(10));
  std::vector<std::string> names, texts;
  for (const auto& step : document["steps"]) {
    names.push_back(step["name"]);
    texts.push_back(step["text"]);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"erase", "erase", "verify", "verify", "result"}));
  EXPECT_EQ(texts,
            (std::vector<std::string>{"Löschen", "gelöscht", "Vergleich", "anders", "nein"}));
  EXPECT_EQ(document["steps"][0]["seconds"], 1.0);
  EXPECT_EQ(document["steps"][4]["seconds"], 5.0);
  // The failure with an address says more than the result after it.
  EXPECT_EQ(document["failure"],
            (nlohmann::json{{"step", "verify"}, {"text", "anders"}, {"address", 0x1C0}}));

  // On a terminal a step's success ends its line, and a failed step is not marked done.
  std::ostringstream terminal;
  {
    cli::ProgressBar progress(terminal, true);
    ReportUnusualWords(progress);
  }
  const std::string drawn = terminal.str();
  EXPECT_NE(drawn.find("\rgelöscht"), std::string::npos) << drawn;
  EXPECT_EQ(drawn.find("done"), drawn.find("Vergleich  done") + 11) << drawn;
  EXPECT_NE(drawn.find("\rVergleich  done"), std::string::npos) << drawn;
  EXPECT_EQ(drawn.find("anders  done"), std::string::npos) << drawn;

  // The bench's record names the step beside the text and address it has always had.
  cli::StationRecordLine line;
  line.exit = 1;
  line.failure = steps[3].event;
  const nlohmann::json record = nlohmann::json::parse(cli::RecordText(line));
  EXPECT_EQ(record["failure"],
            (nlohmann::json{{"text", "anders"}, {"address", 0x1C0}, {"step", "verify"}}));
}

TEST(StepReport, ADeviceThatDidNotAnswerHasAnErrorButNoFailureOfItsFlash) {
  std::ostringstream out;
  std::vector<cli::Step> steps;
  {
    cli::ProgressBar progress(out, false);
    progress.RecordSteps(&steps, {});
    progress.ReportStatus(
        {.step = FlashStep::kProbe, .kind = Kind::kFailure, .text = "the device does not answer"});
  }
  nlohmann::json document;
  cli::AddSteps(document, steps, seconds(0));
  EXPECT_EQ(document["steps"][0]["name"], "probe");
  EXPECT_FALSE(document.contains("failure"));
}

}  // namespace
}  // namespace qv::test
