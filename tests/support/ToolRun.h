#pragma once

// How a qvtool run ended and what it printed, and the check that a text holds a part.

#include <gtest/gtest.h>

#include <string>

namespace qv::test {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

}  // namespace qv::test

#define EXPECT_CONTAINS(text, part) \
  EXPECT_NE((text).find(part), std::string::npos) << "missing \"" << (part) << "\" in:\n" << (text)
