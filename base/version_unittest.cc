#include "base/version.h"

#include <cstdint>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(VersionParse, ValidityAndComponents) {
  const struct {
    const char* text;
    std::vector<uint32_t> components;  // empty: invalid
  } kCases[] = {
      {"1.2.3", {1, 2, 3}},
      {"0", {0}},
      {"0.0.1", {0, 0, 1}},
      {"1.02", {1, 2}},
      {"4294967295.1", {4294967295u, 1}},
      {"", {}},
      {".", {}},
      {"1.", {}},
      {".1", {}},
      {"1..2", {}},
      {"01.2", {}},
      {"+1.2", {}},
      {"1.+2", {}},
      {" 1.2", {}},
      {"1.2 ", {}},
      {"1.-2", {}},
      {"1.2a", {}},
      {"4294967296", {}},
      {"1.4294967296", {}},
  };
  for (const auto& c : kCases) {
    const Version version(c.text);
    EXPECT_EQ(c.components, version.components()) << c.text;
    EXPECT_EQ(!c.components.empty(), version.IsValid()) << c.text;
  }
}

TEST(VersionCompare, MissingComponentsCountAsZero) {
  const struct {
    const char* a;
    const char* b;
    int expected;
  } kCases[] = {
      {"1.0", "1.0.0", 0},
      {"1.02", "1.2", 0},
      {"1.0.1", "1.0", 1},
      {"1.1", "1.0.5", 1},
      {"2", "1.9.9", 1},
      {"1.9", "1.10", -1},
      {"4294967295", "4294967294.9", 1},
      // An invalid version compares like an all-zero one.
      {"bad", "0.0", 0},
      {"bad", "0.1", -1},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, Version(c.a).CompareTo(Version(c.b)))
        << c.a << " vs " << c.b;
    EXPECT_EQ(-c.expected, Version(c.b).CompareTo(Version(c.a)))
        << c.b << " vs " << c.a;
  }
}

}  // namespace
}  // namespace base
