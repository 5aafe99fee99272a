#include "base/strings/placeholder_substitution.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringPlaceholderTest, DollarRulesAndMissingValues) {
  const std::vector<std::string> values = {"A", "B"};
  const struct {
    const char* format;
    const char* expected;
  } kCases[] = {
      {"$1$$2$3$", "A$2"}, {"$0x", "x"},      {"$$$", "$$"},
      {"$", ""},           {"$$", "$"},       {"x$", "x"},
      {"$2-$1", "B-A"},    {"$9", ""},        {"$a$1", "A"},
      {"", ""},            {"no marks", "no marks"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, SubstitutePlaceholders(c.format, values, nullptr))
        << c.format;
  }
}

TEST(StringPlaceholderTest, OffsetsSortedByParameterAndAppended) {
  std::vector<size_t> offsets = {99};
  const std::string result =
      SubstitutePlaceholders("$2 and $1, $2 again, $7", {"one", "two"}, &offsets);
  EXPECT_EQ("two and one, two again, ", result);
  // $1 first, then both $2 (the later occurrence first), then $7 whose value
  // is missing but whose position still counts.
  EXPECT_EQ(std::vector<size_t>({99, 8, 13, 0, 24}), offsets);
}

TEST(StringPlaceholderTest, WideMatchesNarrow) {
  std::vector<size_t> offsets;
  EXPECT_EQ(L"\x00E9-x$", SubstituteWidePlaceholders(L"$1-$2$$", {L"\x00E9", L"x"},
                                                      &offsets));
  EXPECT_EQ(std::vector<size_t>({0, 2}), offsets);
}

}  // namespace
}  // namespace base
