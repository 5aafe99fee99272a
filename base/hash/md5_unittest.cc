#include "base/hash/md5.h"

#include <string>

#include "base/strings/string_number_conversions.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::string Md5Hex(const std::string& data, size_t piece) {
  Md5Context context;
  Md5Init(&context);
  for (size_t i = 0; i < data.size(); i += piece)
    Md5Update(&context, StringSlice(data).Substr(i, piece));
  uint8_t digest[kMd5DigestSize];
  Md5Final(digest, &context);
  return HexEncode(digest, sizeof(digest));
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Test, MatchesStandardSuiteWhateverThePieceSize) {
  const struct {
    const char* input;
    const char* digest;
  } kCases[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890"
       "1234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const auto& test : kCases) {
    for (size_t piece : {1, 3, 63, 64, 1000}) {
      EXPECT_EQ(test.digest, Md5Hex(test.input, piece))
          << '"' << test.input << "\" in pieces of " << piece;
    }
  }
}

TEST(Md5Test, BitCountCarriesIntoHighWord) {
  Md5Context context;
  Md5Init(&context);
  context.bit_count[0] = 0xFFFFFFF8;  // as after 2^29 - 1 bytes
  Md5Update(&context, "xy");
  EXPECT_EQ(8u, context.bit_count[0]);
  EXPECT_EQ(1u, context.bit_count[1]);
}

}  // namespace
}  // namespace base
