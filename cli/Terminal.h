#pragma once

#include <cstdio>

namespace qv::cli {

// Whether a standard stream is a terminal, and how many columns the terminal has (80 when it
// does not say).
bool IsTerminal(std::FILE* stream);
int TerminalColumns(std::FILE* stream);
// Makes the terminal of a stream follow cursor-moving escape sequences, where it has to be asked
// to; false when it cannot (an older Windows console), so progress falls back to plain lines.
bool EnableCursorMoves(std::FILE* stream);

}  // namespace qv::cli
