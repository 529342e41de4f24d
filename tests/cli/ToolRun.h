#pragma once

#include <string>

namespace qv::test {

// How a qvtool run ended and what it printed.
struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

}  // namespace qv::test
