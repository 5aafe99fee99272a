#include "base/base64.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

// Python's decoder is the peer for a wider corpus, end to end; these are the
// rules where ours is deliberately stricter or relies on the tables.
TEST(Base64Test, DecodesOnlyPaddedStandardAlphabet) {
  const struct {
    std::string input;
    bool ok;
    std::string output;
  } kCases[] = {
      {"", true, ""},
      {"QQ==", true, "A"},
      {"QUI=", true, "AB"},
      {"QUJD", true, "ABC"},
      {"QR==", true, "A"},  // unused low bits are not checked
      {"+/+/", true, "\xfb\xff\xbf"},
      {"////", true, "\xff\xff\xff"},
      {"QQ", false, ""},     // padding is required
      {"QUJD=", false, ""},  // surplus padding
      {"QUJD====", false, ""},
      {"QU JD", false, ""},
      {"QUJD\n", false, ""},
      {"-_-_", false, ""},  // URL alphabet
      {"QQ==QQ==", false, ""},
      {"Q===", false, ""},
      {"====", false, ""},
      {std::string("QU\0D", 4), false, ""},
      {"QU\xc3\x81", false, ""},
  };
  for (const auto& test : kCases) {
    std::string output = "untouched";
    EXPECT_EQ(test.ok, Base64Decode(test.input, &output)) << test.input;
    EXPECT_EQ(test.ok ? test.output : "untouched", output) << test.input;
  }
}

TEST(Base64Test, DecodesLongInputAcrossGroups) {
  std::string output;
  ASSERT_TRUE(Base64Decode("VGhlIHF1aWNrIGJyb3duIGZveA==", &output));
  EXPECT_EQ("The quick brown fox", output);
}

}  // namespace
}  // namespace base
