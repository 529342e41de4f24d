#include "cli/ProgressBoard.h"

#include <algorithm>

namespace qv::cli {
namespace {

// A bar narrower than this could not show a step's caption.
constexpr int kNarrowestBar = 40;

// The first `columns` characters of a UTF-8 text (a character's continuation bytes stay with it).
std::string CutToColumns(std::string text, int columns) {
  int seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (seen++ == columns) {
      text.resize(i);
      break;
    }
  }
  return text;
}

}  // namespace

class ProgressBoard::Row final : public ProgressRow {
 public:
  Row(ProgressBoard& board, std::size_t index, std::string label)
      : board(board), index(index), label(std::move(label)) {}
  void Line(const std::string& text) override { board.Line(*this, text); }
  void Redraw(const std::string& text) override { board.Redraw(*this, text); }

  ProgressBoard& board;
  const std::size_t index;
  const std::string label;
  std::string shown;  // what the row shows beside its label, for a redraw of the whole board
};

ProgressBoard::ProgressBoard(std::ostream& out, bool terminal, int columns,
                             std::function<int()> measure)
    : out_(out), terminal_(terminal), columns_(columns), measure_(std::move(measure)) {}

ProgressBoard::~ProgressBoard() = default;

int ProgressBoard::Columns() const {
  const int measured = measure_ ? measure_() : 0;
  return measured > 0 ? measured : columns_;
}

ProgressRow& ProgressBoard::AddRow(std::string label) {
  std::lock_guard lock(mutex_);
  rows_.push_back(std::make_unique<Row>(*this, rows_.size(), std::move(label)));
  const Row& row = *rows_.back();
  if (started_) {
    labelWidth_ = std::max(labelWidth_, row.label.size());
    if (terminal_) out_ << Drawn(row, Columns()) << '\n' << std::flush;
  }
  return *rows_.back();
}

int ProgressBoard::RowColumns() const {
  // The label, two blanks, and the bar; the board cuts what a narrow terminal has no room for.
  return std::max(Columns() - static_cast<int>(labelWidth_) - 2, 1);
}

void ProgressBoard::Start() {
  std::lock_guard lock(mutex_);
  started_ = true;
  for (const auto& row : rows_) labelWidth_ = std::max(labelWidth_, row->label.size());
  // Rows known from the start that could show no bar beside their labels get plain lines; rows
  // that come later are cut to the width.
  drawnColumns_ = Columns();
  if (drawnColumns_ < static_cast<int>(labelWidth_) + 2 + kNarrowestBar) terminal_ = false;
  if (!terminal_) return;
  for (const auto& row : rows_) out_ << Drawn(*row, drawnColumns_) << '\n';
  out_ << std::flush;
}

bool ProgressBoard::Broken() {
  std::lock_guard lock(mutex_);
  return !out_;
}

std::string ProgressBoard::Drawn(const Row& row, int columns) const {
  std::string line = row.label;
  if (!row.shown.empty()) {
    line.resize(labelWidth_, ' ');
    line += "  " + row.shown;
  }
  // One column stays free: a line that fills the terminal exactly wraps on some of them.
  return CutToColumns(std::move(line), std::max(columns - 1, 1));
}

void ProgressBoard::Line(const Row& row, const std::string& text) {
  std::lock_guard lock(mutex_);
  out_ << row.label << ": " << text << '\n' << std::flush;
}

void ProgressBoard::Redraw(Row& row, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (!started_) return;
  row.shown = text;
  const int columns = Columns();
  std::string drawn;
  if (columns != drawnColumns_) {
    // Resized: every row again, at the new width, from the top of the board.
    drawnColumns_ = columns;
    drawn = "\x1b[" + std::to_string(rows_.size()) + "A\r";
    for (const auto& each : rows_) drawn += Drawn(*each, columns) + "\x1b[K\n";
  } else {
    // Up to the row, rewrite it whole, back down below the board: ESC [ n A and ESC [ n B move
    // the cursor, ESC [ K clears the rest of the line.
    const std::string up = std::to_string(rows_.size() - row.index);
    drawn = "\x1b[" + up + "A\r" + Drawn(row, columns) + "\x1b[K\x1b[" + up + "B\r";
  }
  out_ << drawn << std::flush;
}

void ProgressBoard::Note(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (!terminal_ || !started_ || rows_.empty()) {
    out_ << text << '\n' << std::flush;
    return;
  }
  // The note takes the board's first line, and the rows follow one line lower.
  drawnColumns_ = Columns();
  std::string drawn = "\x1b[" + std::to_string(rows_.size()) + "A\r" + text + "\x1b[K\n";
  for (const auto& row : rows_) drawn += Drawn(*row, drawnColumns_) + "\x1b[K\n";
  out_ << drawn << std::flush;
}

}  // namespace qv::cli
