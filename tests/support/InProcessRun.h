#pragma once

// qvtool run in the test's own process, over ports the test hands in, so that it can act at an
// exact request and inspect the simulated devices afterwards.

#include <atomic>
#include <functional>
#include <memory>
#include <sstream>
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
};

// Runs `qvtool --simulate ARGS` with `ports` in place of the simulation the setup would make.
inline ToolRun RunInProcess(std::vector<std::string> args, const InProcessStreams& surroundings,
                            std::function<std::unique_ptr<cli::DevicePorts>()> ports,
                            const std::atomic<int>* interrupts) {
  std::istringstream in(surroundings.input);
  std::ostringstream out, err;
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
  return {status, out.str(), err.str()};
}

// The device's flash starts with the bytes of `image`.
inline bool FlashHolds(sim::SimDevice& device, std::string_view image) {
  const auto contents = device.Chip().Flash().Contents();
  return std::equal(image.begin(), image.end(), contents.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

}  // namespace qv::test
