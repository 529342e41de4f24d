#pragma once

#include <cstdint>
#include <string>

namespace qv {

// Where the flash operations report what they are doing. The window shows the texts in the ISP
// page's labels and processes its pending messages; the command-line tool draws progress bars.
class FlashProgress {
 public:
  enum class Label {
    kProcessInfo,     // start, success and failure texts
    kProcessAddress,  // the address being worked on
    kStatusRegister,  // the flash status while erasing
  };

  virtual ~FlashProgress() = default;
  virtual void Show(Label label, const std::string& text) = 0;
  // How far a range operation has come: `address` within [start, end).
  virtual void Advance(std::uint32_t /*address*/, std::uint32_t /*start*/, std::uint32_t /*end*/) {}
  // Lets the window process pending messages after each block, page or poll.
  virtual void ProcessMessages() = 0;
  // Asked before each block, page and sector: true ends the operation there (the command-line
  // tool's Ctrl-C). The window has no such request.
  virtual bool StopRequested() { return false; }
};

// A progress that shows nothing, for callers that only want the result.
class SilentProgress : public FlashProgress {
 public:
  void Show(Label, const std::string&) override {}
  void ProcessMessages() override {}
};

}  // namespace qv
