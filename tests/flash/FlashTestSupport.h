#pragma once

#include <functional>
#include <string>
#include <vector>

#include "flash/CoreState.h"
#include "flash/UpdateSequence.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TestFirmware.h"

namespace qv::test {

// Records every text the flash operations show, by label, and every event they report, and can
// act when a text appears.
class RecordingProgress : public UpdateProgress {
 public:
  struct Shown {
    Label label;
    std::string text;
  };
  std::vector<Shown> shown;
  std::vector<std::pair<std::string, Style>> statuses;
  std::vector<FlashEvent> events;  // of both the process-info label and the status line
  std::function<void(const std::string&)> onText;
  int messagesProcessed = 0;
  int retriesOver = 0;
  bool stop = false;  // what StopRequested answers

  void Show(Label label, const std::string& text) override {
    shown.push_back({label, text});
    if (onText) onText(text);
  }
  void Report(const FlashEvent& event) override {
    events.push_back(event);
    UpdateProgress::Report(event);
  }
  void ReportStatus(const FlashEvent& event) override {
    events.push_back(event);
    UpdateProgress::ReportStatus(event);
  }
  void Status(const std::string& text, Style style) override {
    statuses.emplace_back(text, style);
    if (onText) onText(text);
  }
  void ProcessMessages() override { ++messagesProcessed; }
  void RetryOver() override { ++retriesOver; }
  bool StopRequested() override { return stop; }

  std::string Last(Label label) const {
    for (auto it = shown.rbegin(); it != shown.rend(); ++it)
      if (it->label == label) return it->text;
    return {};
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (const auto& s : statuses) n += s.first == text;
    return n;
  }
  std::vector<std::string> StatusTexts() const {
    std::vector<std::string> texts;
    for (const auto& s : statuses)
      if (texts.empty() || texts.back() != s.first) texts.push_back(s.first);
    return texts;
  }
};

// The core state over a simulated device found through the audio driver.
class FlashFixture : public SimFixture {
 protected:
  explicit FlashFixture(const std::string& setup = "")
      : SimFixture(setup), core_(bus(), bus(), clock()) {
    core_.UsbDevice.SetUseAudioDriver(1);
    core_.UsbDevice.SetMatchId("vid_e5d3&pid_7a01");
    core_.UsbDevice.FindDevice();
    bus().ClearLog();
  }

  CoreState& core() { return core_; }
  sim::SpiFlash& flash() { return device().Chip().Flash(); }

  void LoadImage(std::size_t n) { LoadTestImage(core_.FlashImage, n); }
  std::vector<std::uint8_t> FlashBytes(std::size_t from, std::size_t n) {
    const auto c = flash().Contents();
    return {c.begin() + from, c.begin() + from + n};
  }
  std::vector<std::uint8_t> ImageBytes(std::size_t from, std::size_t n) {
    const auto& d = core_.FlashImage.Data;
    return {d.begin() + from, d.begin() + from + n};
  }
  // Open, ISP mode, chip set-up, clear status and chip erase, as a sequence would.
  void PrepareErased() {
    core_.UsbDevice.Open();
    SetIspMode(core_.UsbDevice, true);
    ChipSetUpAndErase();
  }
  void ChipSetUpAndErase();
  std::size_t Requests(std::uint8_t request) {
    std::size_t n = 0;
    for (const auto& e : log().Entries()) n += e.decoded && e.request == request;
    return n;
  }

 private:
  CoreState core_;
};

}  // namespace qv::test
