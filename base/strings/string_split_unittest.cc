#include "base/strings/string_split.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

using Pieces = std::vector<std::string>;

TEST(StringSplitTest, PiecesFollowSeparatorsAndModes) {
  const struct {
    const char* input;
    const char* separators;
    WhitespaceMode whitespace;
    PieceMode pieces;
    Pieces expected;
  } kCases[] = {
      {"", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {}},
      {"", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL, {}},
      {"a", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"a"}},
      {"a,", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"a", ""}},
      {",a", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"", "a"}},
      {",", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"", ""}},
      {",", ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY, {}},
      {"a,,b", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"a", "", "b"}},
      {" a , ,b ", ",", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY, {"a", "b"}},
      {" a , ,b ", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL, {"a", "", "b"}},
      {" a , ,b ", ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY, {" a ", " ", "b "}},
      {"a,b", "", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"a,b"}},
      {"a,b;c", ",;", KEEP_WHITESPACE, SPLIT_WANT_ALL, {"a", "b", "c"}},
      {"\t\r\n\v\f x \t", ";", TRIM_WHITESPACE, SPLIT_WANT_ALL, {"x"}},
      // Bytes of UTF-8 text are never whitespace.
      {"\xC2\xA0x", ";", TRIM_WHITESPACE, SPLIT_WANT_ALL, {"\xC2\xA0x"}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, SplitString(c.input, c.separators, c.whitespace, c.pieces))
        << "'" << c.input << "' at '" << c.separators << "'";
  }
}

TEST(StringSplitTest, AnyNonZeroPieceModeDropsEmptyPieces) {
  EXPECT_EQ(Pieces({"a"}), SplitString("a,,", ",", KEEP_WHITESPACE,
                                       static_cast<PieceMode>(7)));
}

TEST(StringSplitTest, WideTrimsUnicodeWhitespace) {
  EXPECT_EQ(std::vector<std::wstring>({L"a", L"b"}),
            SplitWideString(L"\x3000" L"a\x00A0|\x2028|b\x0085", L"|",
                            TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY));
  EXPECT_EQ(std::vector<std::wstring>({L"x", L"y", L"z"}),
            SplitWideByAnyOf(L"x;y,z", L",;", KEEP_WHITESPACE, SPLIT_WANT_ALL));
}

TEST(StringSplitTest, PiecesPointIntoInput) {
  const std::string input = "ab, cd";
  const std::vector<StringSlice> pieces =
      SplitIntoPieces(input, ',', TRIM_WHITESPACE, SPLIT_WANT_ALL);
  ASSERT_EQ(2u, pieces.size());
  EXPECT_EQ(input.data(), pieces[0].data());
  EXPECT_EQ(input.data() + 4, pieces[1].data());
  EXPECT_EQ("cd", pieces[1].AsString());
}

TEST(StringSplitTest, KeyValuePairsKeepMalformedPieces) {
  const struct {
    const char* input;
    StringPairs pairs;
    bool valid;
  } kCases[] = {
      {"", {}, true},
      {"a=1, b==2,c", {{"a", "1"}, {"b", "2"}, {"", ""}}, false},
      {"a=b=c", {{"a", "b=c"}}, true},
      {"a = b", {{"a ", " b"}}, true},
      {"k=,x=1", {{"k", ""}, {"x", "1"}}, false},
      {"=v", {{"", "v"}}, true},
      {" , ,a=1", {{"a", "1"}}, true},
  };
  for (const auto& c : kCases) {
    StringPairs pairs = {{"stale", "entry"}};
    EXPECT_EQ(c.valid, SplitKeyValuePairs(c.input, &pairs)) << c.input;
    EXPECT_EQ(c.pairs, pairs) << c.input;
  }
}

}  // namespace
}  // namespace base
