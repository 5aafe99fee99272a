#include "base/strings/log_escape.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(LogEscapeTest, EscapesAndBounds) {
  const struct {
    std::string data;
    size_t limit;
    std::string expected;
  } kCases[] = {
      {"plain text {\"a\":1}", 256, "plain text {\"a\":1}"},
      {std::string("a\0b", 3), 256, "a\\x00b"},
      {"line\r\nforged [INFO] entry", 256, "line\\x0D\\x0Aforged [INFO] entry"},
      {"\x7F\xC3\xA4", 256, "\\x7F\\xC3\\xA4"},
      {"abcdef", 4, "abcd... (6 bytes)"},
      {"abcd", 4, "abcd"},
      {"", 4, ""},
  };
  for (const auto& test : kCases)
    EXPECT_EQ(test.expected, EscapeForLog(test.data, test.limit)) << test.data;
}

TEST(LogEscapeTest, LongBinaryStaysShort) {
  const std::string data(17 * 1024 * 1024, '\0');
  EXPECT_LE(EscapeForLog(data).size(), 4 * kLogEscapeLimit + 32);
}

}  // namespace
}  // namespace base
