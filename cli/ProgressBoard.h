#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "cli/ProgressBar.h"

namespace qv::cli {

// The progress of several devices at once, each device's bar on its own thread. On a terminal
// that can move its cursor, one line per device, each redrawn in place under its label; elsewhere
// plain lines, each led by the label of its device ("Brevanto RX1 1-2: Start Programming").
// Lines never interleave: the board writes one whole line at a time. A row is cut to the
// terminal's width as it is when the row is drawn (`measure`, when given, tells it; a resize
// redraws every row), so that no row wraps and every redraw lands on its own row.
class ProgressBoard {
 public:
  ProgressBoard(std::ostream& out, bool terminal, int columns,
                std::function<int()> measure = nullptr);
  ProgressBoard(const ProgressBoard&) = delete;
  ProgressBoard& operator=(const ProgressBoard&) = delete;
  ~ProgressBoard();

  // A row for each device. One added after Start (a device that arrived later) goes below the
  // others; a label wider than the ones before widens every row at its next redraw.
  ProgressRow& AddRow(std::string label);
  // Draws the rows on a terminal, when it is wide enough for them (else the board writes plain
  // lines); the cursor then stays below them.
  void Start();
  // The columns a row's bar may fill beside its label.
  int RowColumns() const;
  bool Terminal() const { return terminal_; }
  // The output no longer takes the board's lines (a closed pipe, a full disk).
  bool Broken();
  // A message of its own while the board is up: on a terminal written above the rows, which are
  // drawn again below it; elsewhere a plain line.
  void Note(const std::string& text);

 private:
  class Row;
  void Line(const Row& row, const std::string& text);
  void Redraw(Row& row, const std::string& text);
  int Columns() const;
  // The row's label and text, cut to the terminal's width.
  std::string Drawn(const Row& row, int columns) const;

  std::ostream& out_;
  bool terminal_;
  int columns_;
  std::function<int()> measure_;
  int drawnColumns_ = 0;  // the width the rows were last drawn at
  bool started_ = false;
  std::size_t labelWidth_ = 0;  // of the widest label, once the board has started
  std::mutex mutex_;
  std::vector<std::unique_ptr<Row>> rows_;
};

}  // namespace qv::cli
