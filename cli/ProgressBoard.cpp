#include "cli/ProgressBoard.h"

#include <algorithm>

namespace qv::cli {

class ProgressBoard::Row final : public ProgressRow {
 public:
  Row(ProgressBoard& board, std::size_t index, std::string label)
      : board(board), index(index), label(std::move(label)) {}
  void Line(const std::string& text) override { board.Line(*this, text); }
  void Redraw(const std::string& text) override { board.Redraw(*this, text); }

  ProgressBoard& board;
  const std::size_t index;
  const std::string label;
};

ProgressBoard::ProgressBoard(std::ostream& out, bool terminal, int columns)
    : out_(out), terminal_(terminal), columns_(columns) {}

ProgressBoard::~ProgressBoard() = default;

ProgressRow& ProgressBoard::AddRow(std::string label) {
  std::lock_guard lock(mutex_);
  rows_.push_back(std::make_unique<Row>(*this, rows_.size(), std::move(label)));
  const Row& row = *rows_.back();
  if (started_) {
    labelWidth_ = std::max(labelWidth_, row.label.size());
    if (terminal_) out_ << row.label << '\n' << std::flush;
  }
  return *rows_.back();
}

// A bar narrower than this could not show a step's caption.
constexpr int kNarrowestBar = 40;

int ProgressBoard::RowColumns() const {
  // The label, two blanks, and the bar.
  return std::max(columns_ - static_cast<int>(labelWidth_) - 2, kNarrowestBar);
}

void ProgressBoard::Start() {
  std::lock_guard lock(mutex_);
  started_ = true;
  for (const auto& row : rows_) labelWidth_ = std::max(labelWidth_, row->label.size());
  // A row that wrapped would break every redraw below it: too narrow a terminal gets plain lines.
  if (columns_ < static_cast<int>(labelWidth_) + 2 + kNarrowestBar) terminal_ = false;
  if (!terminal_) return;
  for (const auto& row : rows_) {
    std::string line = row->label;
    line.resize(labelWidth_, ' ');
    out_ << line << '\n';
  }
  out_ << std::flush;
}

bool ProgressBoard::Broken() {
  std::lock_guard lock(mutex_);
  return !out_;
}

void ProgressBoard::Line(const Row& row, const std::string& text) {
  std::lock_guard lock(mutex_);
  out_ << row.label << ": " << text << '\n' << std::flush;
}

void ProgressBoard::Redraw(const Row& row, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (!started_) return;
  // Up to the row, rewrite it whole, back down below the board: ESC [ n A and ESC [ n B move the
  // cursor, ESC [ K clears the rest of the line.
  const std::size_t up = rows_.size() - row.index;
  std::string line = row.label;
  line.resize(labelWidth_, ' ');
  line += "  " + text;
  out_ << "\x1b[" << up << "A\r" << line << "\x1b[K\x1b[" << up << "B\r" << std::flush;
}

}  // namespace qv::cli
