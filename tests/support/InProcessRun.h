#pragma once

// qvtool run in the test's own process, over ports the test hands in, so that it can act at an
// exact request and inspect the simulated devices afterwards.

#include <atomic>
#include <functional>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "cli/DevicePorts.h"
#include "cli/QvTool.h"
#include "sim/SimDevice.h"
#include "tests/support/ToolRun.h"

namespace qv::test {

// What the tool's surroundings look like: its standard input and which streams are terminals.
struct InProcessStreams {
  std::string input;
  bool inIsTerminal = false;
  bool outIsTerminal = false;
  bool errIsTerminal = false;
  int columns = 80;
  std::function<int()> measureColumns = nullptr;  // the terminal's width at each draw, for a resize
  // Once set, standard output refuses every write, as a pipe does whose reader went away.
  const std::atomic<bool>* outClosed = nullptr;
  // Sees each write to standard output as it is made, on the thread that makes it.
  std::function<void(std::string_view)> watchOut = nullptr;
};

// Standard output as a pipe: it takes everything until its reader goes away, then nothing.
// Unbuffered, so that no write slips into a buffer after that.
class PipeOut final : public std::streambuf {
 public:
  PipeOut(const std::atomic<bool>* closed, std::function<void(std::string_view)> watch)
      : closed_(closed), watch_(std::move(watch)) {}
  const std::string& Text() const { return text_; }

 protected:
  int_type overflow(int_type c) override {
    if (Closed()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    if (watch_) watch_({&byte, 1});
    text_ += byte;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (Closed()) return 0;
    if (watch_) watch_({s, static_cast<std::size_t>(n)});
    text_.append(s, static_cast<std::size_t>(n));
    return n;
  }

 private:
  bool Closed() const { return closed_ && closed_->load(); }
  const std::atomic<bool>* closed_;
  std::function<void(std::string_view)> watch_;
  std::string text_;
};

// Runs `qvtool --simulate ARGS` with `ports` in place of the simulation the setup would make.
inline ToolRun RunInProcess(std::vector<std::string> args, const InProcessStreams& surroundings,
                            std::function<std::unique_ptr<cli::DevicePorts>()> ports,
                            const std::atomic<int>* interrupts) {
  std::istringstream in(surroundings.input);
  PipeOut pipe(surroundings.outClosed, surroundings.watchOut);
  std::ostream out(&pipe);
  std::ostringstream err;
  const cli::ToolStreams streams{.in = in,
                                 .out = out,
                                 .err = err,
                                 .inIsTerminal = surroundings.inIsTerminal,
                                 .outIsTerminal = surroundings.outIsTerminal,
                                 .errIsTerminal = surroundings.errIsTerminal,
                                 .columns = surroundings.columns,
                                 .measureColumns = surroundings.measureColumns};
  cli::ToolHooks hooks;
  hooks.interrupts = interrupts;
  hooks.ports = [&ports](const std::optional<std::string>&) {
    return cli::PortsResult{ports(), {}};
  };
  args.insert(args.begin(), "--simulate");
  const int status = cli::RunQvTool(args, streams, hooks);
  return {status, pipe.Text(), err.str()};
}

// The device's flash starts with the bytes of `image`.
inline bool FlashHolds(sim::SimDevice& device, std::string_view image) {
  const auto contents = device.Chip().Flash().Contents();
  return std::equal(image.begin(), image.end(), contents.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

}  // namespace qv::test
