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

// An event that only repeats the one before (the erase poll, whose text grows a row of full
// stops; a sector's poll, at the same sector) is the same step, whatever its text.
bool SameStep(const FlashEvent& previous, const FlashEvent& event) {
  return previous.step == event.step && previous.kind == event.kind &&
         previous.address == event.address;
}

bool WentWrong(const FlashEvent& event) {
  return event.kind == FlashEvent::Kind::kFailure || event.kind == FlashEvent::Kind::kStopped;
}

}  // namespace

void ProgressBar::Advance(std::uint32_t address, std::uint32_t start, std::uint32_t end) {
  if (!terminal_ || !open_ || end <= start || address < start) return;
  const auto done = static_cast<std::uint64_t>(address - start);
  const int percent = static_cast<int>(std::min<std::uint64_t>(done * 100 / (end - start), 99));
  if (percent_ == percent) return;  // redraw only when the figure changes
  percent_ = percent;
  Draw();
}

void ProgressBar::Text(const FlashEvent& given) {
  const bool renamed = resultNames_ && given.step == FlashStep::kResult &&
                       given.kind != FlashEvent::Kind::kStart &&
                       given.kind != FlashEvent::Kind::kStopped;
  FlashEvent named;
  if (renamed) {
    named = given;
    named.text =
        given.kind == FlashEvent::Kind::kSuccess ? resultNames_->first : resultNames_->second;
  }
  const FlashEvent& event = renamed ? named : given;
  const std::string_view text = TrimRight(event.text, " ");
  if (steps_ && (steps_->empty() || !SameStep(steps_->back().event, event))) {
    FlashEvent step = event;
    step.text = text;
    steps_->push_back({std::move(step), now_ ? now_() : std::chrono::microseconds{}});
  }
  if (holding_ && event.step == FlashStep::kResult) {
    held_ = event;
    return;
  }
  if (!terminal_) {
    if (lastPlain_ && SameStep(*lastPlain_, event)) return;
    lastPlain_ = event;
    if (row_)
      row_->Line(std::string(text));
    else
      *out_ << text << std::endl;
    return;
  }
  if (open_ && SameStep(line_, event)) {
    line_.text = event.text;
    Draw();
    return;
  }
  // The success of the step on the line ends it there.
  if (open_ && event.kind == FlashEvent::Kind::kSuccess && event.step == line_.step) {
    line_ = event;
    if (percent_) percent_ = 100;
    Draw();
    Finish();
    return;
  }
  // Another step begins: the one on the line has ended, and unless it failed, it is done.
  if (open_ && !WentWrong(line_)) {
    if (percent_) percent_ = 100;
    Draw(true);
  }
  Finish();
  line_ = event;
  percent_.reset();
  open_ = true;
  Draw();
}

void ProgressBar::ShowResult() {
  holding_ = false;
  if (!held_) return;
  const FlashEvent event = *held_;
  held_.reset();
  Text(event);  // its step is kept already
}

void ProgressBar::Draw(bool done) {
  // One column stays free: a line that fills the terminal exactly wraps on some of them.
  const std::size_t width = static_cast<std::size_t>(std::max(columns_ - 1, 20));
  std::string line(TrimRight(line_.text, " "));
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
