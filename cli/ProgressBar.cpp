#include "cli/ProgressBar.h"

#include <algorithm>
#include <string_view>

namespace qv::cli {
namespace {

constexpr std::size_t kCaptionWidth = 24;
constexpr int kBarWidth = 30;

std::string_view TrimRight(std::string_view text, std::string_view characters) {
  const std::size_t end = text.find_last_not_of(characters);
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

// The erase poll repeats its step text with a growing row of full stops: the same step.
bool SameStep(std::string_view previous, std::string_view text) {
  return !previous.empty() && TrimRight(previous, " .") == TrimRight(text, " .");
}

// "Blanking Success", "Programming Success", ...: the result that ends the step shown.
bool EndsStep(std::string_view text) {
  return text.ends_with("Success");
}

}  // namespace

void ProgressBar::Status(const std::string& text, Style) {
  Text(text);
}

void ProgressBar::Show(Label label, const std::string& text) {
  // Addresses and the status register change with every block; the bar stands for them.
  if (label == Label::kProcessInfo) Text(text);
}

void ProgressBar::Advance(std::uint32_t address, std::uint32_t start, std::uint32_t end) {
  if (!terminal_ || !open_ || end <= start || address < start) return;
  const auto done = static_cast<std::uint64_t>(address - start);
  const int percent = static_cast<int>(std::min<std::uint64_t>(done * 100 / (end - start), 99));
  if (percent_ == percent) return;  // redraw only when the figure changes
  percent_ = percent;
  Draw();
}

void ProgressBar::Text(const std::string& text) {
  if (!terminal_) {
    if (SameStep(lastPlain_, text)) return;
    lastPlain_ = text;
    out_ << TrimRight(text, " ") << '\n';
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
  Finish();
  caption_ = text;
  percent_.reset();
  open_ = true;
  Draw();
}

void ProgressBar::Draw() {
  std::string line = caption_;
  if (percent_) {
    line.resize(std::max(line.size(), kCaptionWidth), ' ');
    const int filled = *percent_ * kBarWidth / 100;
    line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " +
            std::to_string(*percent_) + "%";
  }
  if (line == drawn_) return;  // the erase poll repeats its text many times
  std::string padded = line;
  if (padded.size() < drawn_.size()) padded.append(drawn_.size() - padded.size(), ' ');
  out_ << '\r' << padded << std::flush;
  drawn_ = std::move(line);
}

void ProgressBar::Finish() {
  if (!open_) return;
  out_ << '\n' << std::flush;
  open_ = false;
  drawn_.clear();
}

}  // namespace qv::cli
