#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Report.h"
#include "flash/UpdateSequence.h"

namespace qv::cli {

// Where the progress of one of several devices goes, instead of a stream of its own: its plain
// lines, or its one line on the terminal, redrawn in place.
class ProgressRow {
 public:
  virtual ~ProgressRow() = default;
  virtual void Line(const std::string& text) = 0;
  virtual void Redraw(const std::string& text) = 0;
};

// Shows what the flash operations and the update report. On a terminal each step gets one line
// with a bar, redrawn in place and never wider than the terminal; a step that another one
// follows is marked done, unless it failed or stopped. Elsewhere (a pipe, a log file) each step's
// start and result text and every failure text is one plain line, written out at once, so scripts
// and logs stay readable. Which step an event belongs to comes from its value, never its words.
// A Ctrl-C count above 0 asks the operations to stop.
class ProgressBar final : public UpdateProgress {
 public:
  ProgressBar(std::ostream& out, bool terminal, int columns = 80,
              const std::atomic<int>* interrupts = nullptr)
      : out_(&out), terminal_(terminal), columns_(columns), interrupts_(interrupts) {}
  // One device among several: on a terminal its row shows the step under way, each step
  // replacing the one before; elsewhere its lines go to the row to be told apart.
  ProgressBar(ProgressRow& row, bool terminal, int columns,
              const std::atomic<int>* interrupts = nullptr)
      : row_(&row), terminal_(terminal), columns_(columns), interrupts_(interrupts) {}
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  ~ProgressBar() override { Finish(); }

  void Report(const FlashEvent& event) override { Text(event); }
  void ReportStatus(const FlashEvent& event) override { Text(event); }
  // Addresses and the status register change with every block; the bar stands for them.
  void Show(Label, const std::string&) override {}
  void Advance(std::uint32_t address, std::uint32_t start, std::uint32_t end) override;
  void ProcessMessages() override {}
  bool StopRequested() override { return interrupts_ && interrupts_->load() > 0; }

  // Ends an open step line, so that what is printed next starts on a line of its own.
  void Finish();

  // Holds the update's result back (its step is kResult) until ShowResult: a station shows a
  // unit's result only once its record line is written.
  void HoldResult() { holding_ = true; }
  void ShowResult();

  // The final text of a sequence that is not an update (a restore runs the update's steps): its
  // success and its failure, in place of the update's.
  void NameResult(std::string success, std::string failure) {
    resultNames_ = {std::move(success), std::move(failure)};
  }

  // Keeps every step in `steps` too (the erase's polls as one), with the time `now` gives.
  void RecordSteps(std::vector<Step>* steps, std::function<std::chrono::microseconds()> now) {
    steps_ = steps;
    now_ = std::move(now);
  }

 private:
  // A text names no step: the tool takes the events.
  void Status(const std::string&, Style) override {}
  void Text(const FlashEvent& event);
  void Draw(bool done = false);

  std::ostream* out_ = nullptr;
  ProgressRow* row_ = nullptr;
  bool terminal_;
  int columns_;
  const std::atomic<int>* interrupts_;
  bool open_ = false;  // a step line is on the terminal and may be redrawn
  FlashEvent line_;    // the event on the open line, or on the last one; its text is the caption
  std::optional<int> percent_;
  std::string drawn_;  // the line as last drawn, to blank out what a shorter one leaves of it
  std::optional<FlashEvent> lastPlain_;
  std::vector<Step>* steps_ = nullptr;
  std::function<std::chrono::microseconds()> now_;
  bool holding_ = false;
  std::optional<FlashEvent> held_;
  std::optional<std::pair<std::string, std::string>> resultNames_;  // success, failure
};

}  // namespace qv::cli
