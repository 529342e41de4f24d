// qvtool: the command-line front end of the firmware update and maintenance tool.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Interrupts.h"
#include "cli/QvTool.h"
#include "cli/Terminal.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // The binary read-back goes to standard output byte for byte, and the text dump's lone
  // carriage returns must not gain line feeds.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  using qv::cli::IsTerminal;
  const bool outIsTerminal = IsTerminal(stdout);
  const bool errIsTerminal = IsTerminal(stderr);
  // Piped or logged, every line goes out as it is written: a tool ended by Ctrl-C or a dying
  // pipe leaves its log complete up to that point.
  if (!outIsTerminal) std::cout.setf(std::ios::unitbuf);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const qv::cli::ToolStreams streams{
      .in = std::cin,
      .out = std::cout,
      .err = std::cerr,
      .inIsTerminal = IsTerminal(stdin),
      .outIsTerminal = outIsTerminal,
      .errIsTerminal = errIsTerminal,
      .columns = qv::cli::TerminalColumns(outIsTerminal ? stdout : stderr),
      .measureColumns =
          [outIsTerminal] { return qv::cli::TerminalColumns(outIsTerminal ? stdout : stderr); },
      .outMovesCursor = outIsTerminal && qv::cli::EnableCursorMoves(stdout)};
  qv::cli::ToolHooks hooks;
  hooks.interrupts = &qv::cli::InstallInterruptHandlers();
  return qv::cli::RunQvTool(args, streams, hooks);
}
