#include "base/hash/super_fast_hash.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

// Values worked out by hand from the published algorithm. The lengths cover
// each tail of 0 to 3 bytes; the high bytes check that tail bytes are
// sign-extended while whole 16-bit words are not.
TEST(SuperFastHashTest, MatchesPublishedAlgorithm) {
  const struct {
    std::string input;
    uint32_t hash;
  } kCases[] = {
      {"a", 0x115ea782},
      {"ab", 0x516b8b44},
      {"abc", 0xd2be198a},
      {"abcd", 0xdad8b8db},
      {"abcde", 0x51ed072e},
      {"abcdef", 0x963b9dda},
      {"abcdefg", 0xf071c3ed},
      {"\x80", 0xf30533c4},
      {"\xff\xfe", 0xf9ebdcf0},
      {std::string("\x00\x00\x80", 3), 0xc44e9148},
      {"\x01\x02\x03\xfe\xff", 0xb0d053a8},
      {"The quick brown fox jumps over the lazy dog", 0x05bf7ce3},
  };
  for (const auto& test : kCases) {
    EXPECT_EQ(test.hash,
              SuperFastHash(test.input.data(),
                            static_cast<int32_t>(test.input.size())))
        << test.input;
  }
}

TEST(SuperFastHashTest, EmptyNullOrNegativeGivesZero) {
  EXPECT_EQ(0u, SuperFastHash("abc", 0));
  EXPECT_EQ(0u, SuperFastHash("abc", -3));
  EXPECT_EQ(0u, SuperFastHash(nullptr, 3));
}

}  // namespace
}  // namespace base
