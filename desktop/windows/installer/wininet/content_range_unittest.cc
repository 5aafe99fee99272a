#include "desktop/windows/installer/wininet/content_range.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ContentRangeTest, OnlyOneWellFormedByteRangeParses) {
  const struct {
    const wchar_t* value;
    bool parses;
    int64_t first;
    int64_t last;
    int64_t total;
  } kCases[] = {
      {L"bytes 700000-1999999/2000000", true, 700000, 1999999, 2000000},
      {L"bytes 0-0/1", true, 0, 0, 1},
      {L"bytes 5-9/*", true, 5, 9, -1},
      {L"bytes 9223372036854775806-9223372036854775806/*", true,
       9223372036854775806, 9223372036854775806, -1},
      {L"", false},
      {L"bytes */2000000", false},
      {L"bytes 10-5/20", false},
      {L"bytes 0-20/20", false},
      {L"bytes -5-9/20", false},
      {L"bytes +5-9/20", false},
      {L"bytes 5 -9/20", false},
      {L"bytes 5-9/20 ", false},
      {L"bytes 5-9", false},
      {L"items 5-9/20", false},
      {L"bytes 99999999999999999999-1/*", false},
  };
  for (const auto& test : kCases) {
    ContentRange range;
    ASSERT_EQ(test.parses, ParseContentRange(test.value, &range)) << test.value;
    if (!test.parses)
      continue;
    EXPECT_EQ(test.first, range.first) << test.value;
    EXPECT_EQ(test.last, range.last) << test.value;
    EXPECT_EQ(test.total, range.total) << test.value;
  }
}

}  // namespace
}  // namespace installer
