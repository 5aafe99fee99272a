#include "base/hash/sha1.h"

#include <string>

#include "base/strings/string_number_conversions.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::string Sha1Hex(const std::string& data) {
  uint8_t digest[kSha1Length];
  Sha1HashBytes(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                digest);
  return HexEncode(digest, sizeof(digest));
}

// The examples published with the standard; lengths around the padding
// boundaries are compared with Python's hashlib end to end.
TEST(Sha1Test, MatchesStandardExamples) {
  EXPECT_EQ("A9993E364706816ABA3E25717850C26C9CD0D89D", Sha1Hex("abc"));
  EXPECT_EQ("84983E441C3BD26EBAAE4AA1F95129E5E54670F1",
            Sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  EXPECT_EQ("34AA973CD4C4DAA4F61EEB2BDBAD27316534016F",
            Sha1Hex(std::string(1000000, 'a')));
}

}  // namespace
}  // namespace base
