#pragma once

#include <cstdio>

namespace qv::cli {

// Whether a standard stream is a terminal, and how many columns the terminal has (80 when it
// does not say).
bool IsTerminal(std::FILE* stream);
int TerminalColumns(std::FILE* stream);

}  // namespace qv::cli
