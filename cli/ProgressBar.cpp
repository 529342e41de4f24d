#include "cli/ProgressBar.h"

#include "util/Text.h"

#include <algorithm>
#include <string_view>

namespace qv::cli {
namespace {

constexpr std::size_t kCaptionWidth = 24;
constexpr int kWidestBar = 30;
constexpr int kNarrowestBar = 5;
constexpr std::string_view kDoneMark = "  done";

// The erase poll repeats its step text with a growing row of full stops: the same step.
bool SameStep(std::string_view previous, std::string_view text) {
  return !previous.empty() && TrimRight(previous, " .") == TrimRight(text, " .");
}

// "Blanking Success", "Programming Success", ...: the result that ends the step shown.
bool EndsStep(std::string_view text) {
  return text.ends_with("Success");
}

}  // namespace

void ProgressBar::Status(const std::string& text, Style style) {
  Text(text, style == Style::kRetry || style == Style::kFailure || IsFailureText(text));
}

void ProgressBar::Show(Label label, const std::string& text) {
  // Addresses and the status register change with every block; the bar stands for them.
  if (label == Label::kProcessInfo) Text(text, IsFailureText(text));
}

void ProgressBar::Advance(std::uint32_t address, std::uint32_t start, std::uint32_t end) {
  if (!terminal_ || !open_ || end <= start || address < start) return;
  const auto done = static_cast<std::uint64_t>(address - start);
  const int percent = static_cast<int>(std::min<std::uint64_t>(done * 100 / (end - start), 99));
  if (percent_ == percent) return;  // redraw only when the figure changes
  percent_ = percent;
  Draw();
}

void ProgressBar::Text(const std::string& text, bool failure) {
  if (steps_ && (steps_->empty() || !SameStep(steps_->back().text, text)))
    steps_->push_back(
        {std::string(TrimRight(text, " ")), now_ ? now_() : std::chrono::microseconds{}});
  if (!terminal_) {
    if (SameStep(lastPlain_, text)) return;
    lastPlain_ = text;
    if (row_)
      row_->Line(std::string(TrimRight(text, " ")));
    else
      *out_ << TrimRight(text, " ") << std::endl;
    return;
  }
  if (open_ && SameStep(caption_, text)) {
    caption_ = text;
    Draw();
    return;
  }
  if (open_ && EndsStep(text)) {
    caption_ = text;
    if (percent_) percent_ = 100;
    Draw();
    Finish();
    return;
  }
  // Another step begins: the one on the line has ended, and unless it failed, it is done.
  if (open_ && !failed_) {
    if (percent_) percent_ = 100;
    Draw(true);
  }
  Finish();
  caption_ = text;
  failed_ = failure;
  percent_.reset();
  open_ = true;
  Draw();
}

void ProgressBar::Draw(bool done) {
  // One column stays free: a line that fills the terminal exactly wraps on some of them.
  const std::size_t width = static_cast<std::size_t>(std::max(columns_ - 1, 20));
  std::string line(TrimRight(caption_, " "));
  if (percent_) {
    // Three digits always, so the bar keeps its length from 0% to 100%.
    std::string figure = std::to_string(*percent_) + "%";
    figure.insert(0, 5 - figure.size(), ' ');
    const std::size_t captionWidth = std::min(std::max(line.size(), kCaptionWidth), width / 2);
    const int room = static_cast<int>(width) - static_cast<int>(captionWidth) - 3 -
                     static_cast<int>(figure.size()) -
                     (done ? static_cast<int>(kDoneMark.size()) : 0);
    const int bar = std::min(kWidestBar, room);
    line.resize(captionWidth, ' ');
    if (bar >= kNarrowestBar) {
      const int filled = *percent_ * bar / 100;
      line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
              std::string(static_cast<std::size_t>(bar - filled), '.') + "]";
    }
    line += figure;
  }
  if (done) line += kDoneMark;
  if (line.size() > width) line.resize(width);
  if (line == drawn_) return;  // the erase poll repeats its text many times
  if (row_) {
    row_->Redraw(line);
    drawn_ = std::move(line);
    return;
  }
  std::string padded = line;
  if (padded.size() < drawn_.size()) padded.append(drawn_.size() - padded.size(), ' ');
  *out_ << '\r' << padded << std::flush;
  drawn_ = std::move(line);
}

void ProgressBar::Finish() {
  if (!open_) return;
  // A row keeps its last text on the terminal until the next step replaces it.
  if (!row_) *out_ << '\n' << std::flush;
  open_ = false;
  drawn_.clear();
}

}  // namespace qv::cli
