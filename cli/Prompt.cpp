#include "cli/Prompt.h"

#include <iostream>
#include <istream>

#include "util/Text.h"

#ifndef _WIN32
#include <cerrno>

#include <poll.h>
#include <unistd.h>
#endif

namespace qv::cli {
namespace {

bool Stopped(const std::atomic<int>* interrupts) {
  return interrupts && interrupts->load() > 0;
}

// Waits for a line on the process's own terminal or for Ctrl-C. The handler counts the signal and
// lets a read go on (so that device requests are not cut short), so a read would outlast Ctrl-C:
// the terminal is watched instead, and read only once it has something. On Windows Ctrl-C ends
// the console's read by itself.
void WaitForInput(const ToolStreams& streams, const std::atomic<int>* interrupts) {
#ifndef _WIN32
  if (&streams.in != &std::cin || !interrupts) return;
  while (!Stopped(interrupts)) {
    pollfd input{};
    input.fd = STDIN_FILENO;
    input.events = POLLIN;
    const int ready = ::poll(&input, 1, 100);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return;
  }
#else
  (void)streams;
  (void)interrupts;
#endif
}

}  // namespace

Answer Confirm(const ToolStreams& streams, Report& report, const std::atomic<int>* interrupts,
               const std::string& warning, const std::string& question) {
  std::ostream& talk = report.Talk();
  talk << "Warning: " << warning << '\n' << question << " [y/N] " << std::flush;
  if (!streams.inIsTerminal) {
    talk << "\n(standard input is not a terminal: no; pass --yes to go on without asking)"
         << std::endl;
    return Answer::kNo;
  }
  WaitForInput(streams, interrupts);
  if (Stopped(interrupts)) return Answer::kStopped;
  std::string answer;
  std::getline(streams.in, answer);
  if (Stopped(interrupts)) return Answer::kStopped;
  answer = LowerAscii(answer);
  return answer == "y" || answer == "yes" ? Answer::kYes : Answer::kNo;
}

}  // namespace qv::cli
