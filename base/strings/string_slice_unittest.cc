#include "base/strings/string_slice.h"

#include "gtest/gtest.h"

namespace base {

TEST(StringSliceTest, SubstrClampsToLength) {
  StringSlice s("hello");
  EXPECT_EQ("llo", s.Substr(2).AsString());
  EXPECT_TRUE(s.Substr(9).empty());
}

}  // namespace base
