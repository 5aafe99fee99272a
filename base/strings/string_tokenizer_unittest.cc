#include "base/strings/string_tokenizer.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

std::vector<std::string> Tokens(const std::string& text, const char* delimiters,
                                const char* quotes, int options,
                                std::vector<bool>* delimiter_flags = nullptr) {
  StringTokenizer tokenizer(text, delimiters);
  if (quotes)
    tokenizer.set_quote_chars(quotes);
  tokenizer.set_options(options);
  std::vector<std::string> tokens;
  while (tokenizer.GetNext()) {
    tokens.push_back(tokenizer.token());
    if (delimiter_flags)
      delimiter_flags->push_back(tokenizer.token_is_delimiter());
  }
  EXPECT_FALSE(tokenizer.GetNext()) << "stays at the end";
  return tokens;
}

using TokenList = std::vector<std::string>;

TEST(TokenizerTest, TokensWithAndWithoutQuotes) {
  const struct {
    const char* text;
    const char* delimiters;
    const char* quotes;
    TokenList expected;
  } kCases[] = {
      {"a,'b,c',d", ",", "'", {"a", "'b,c'", "d"}},
      {"a,'b,c',d", ",", nullptr, {"a", "'b", "c'", "d"}},
      {",,a,,b,,", ",", nullptr, {"a", "b"}},
      {"", ",", nullptr, {}},
      {",,,", ",", "'", {}},
      {"x 'unterminated, y", ", ", "'", {"x", "'unterminated, y"}},
      {R"('it\'s, fine',z)", ",", "'", {R"('it\'s, fine')", "z"}},
      {R"("a'b",'c"d')", ",", "'\"", {R"("a'b")", R"('c"d')"}},
      {R"(a\,b)", ",", "'", {R"(a\)", "b"}},  // Escapes only act inside quotes.
      {"k=\"v w\" z", " ", "\"", {"k=\"v w\"", "z"}},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.expected, Tokens(c.text, c.delimiters, c.quotes, 0)) << c.text;
}

TEST(TokenizerTest, ReturnDelimitersGivesEachDelimiterAsToken) {
  std::vector<bool> flags;
  EXPECT_EQ(TokenList({"a", ",", ",", "'b,c'", ";"}),
            Tokens("a,,'b,c';", ",;", "'", StringTokenizer::RETURN_DELIMITERS,
                   &flags));
  EXPECT_EQ(std::vector<bool>({false, true, true, false, true}), flags);
  // The option alone selects the quoting form, which still returns them.
  EXPECT_EQ(TokenList({"a", " ", "b"}),
            Tokens("a b", " ", nullptr, StringTokenizer::RETURN_DELIMITERS));
}

}  // namespace
}  // namespace base
