// qvtool: the command-line front end of the firmware update and maintenance tool.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/QvTool.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define QV_ISATTY _isatty
#define QV_FILENO _fileno
#else
#include <unistd.h>
#define QV_ISATTY isatty
#define QV_FILENO fileno
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // The binary read-back goes to standard output byte for byte, and the text dump's lone
  // carriage returns must not gain line feeds.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::vector<std::string> args(argv + 1, argv + argc);
  const qv::cli::ToolStreams streams{std::cin,
                                     std::cout,
                                     std::cerr,
                                     QV_ISATTY(QV_FILENO(stdin)) != 0,
                                     QV_ISATTY(QV_FILENO(stdout)) != 0,
                                     QV_ISATTY(QV_FILENO(stderr)) != 0};
  return qv::cli::RunQvTool(args, streams);
}
