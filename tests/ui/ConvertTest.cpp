#include <gtest/gtest.h>

#include <string>

#include "ui/Convert.h"

namespace qv::ui {
namespace {

TEST(StrToInt, AcceptsTheDesktopIntegerSyntax) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {
      {"64", 64},
      {"0", 0},
      {"  64", 64},
      {"+5", 5},
      {"-5", -5},
      {"007", 7},
      {"$1F", 31},
      {"$1f", 31},
      {"0x20", 32},
      {"0X20", 32},
      {"-$10", -16},
      {" -0x10", -16},
      {"$FFFFFFFF", -1},
      {"0x80000000", INT32_MIN},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
}

TEST(StrToInt, RefusesAnythingElseNamingTheText) {
  for (const char* text : {"", " ", "1x", "64 ", "x10", "0x", "$", "- 5", "+-1", "1.5", "1e3",
                           "2147483648", "-2147483649", "$100000000", "0x-1", "\t1"}) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const ConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid integer value");
    }
  }
}

}  // namespace
}  // namespace qv::ui
