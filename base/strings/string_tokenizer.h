#ifndef BASE_STRINGS_STRING_TOKENIZER_H_
#define BASE_STRINGS_STRING_TOKENIZER_H_

#include <string>

#include "base/strings/string_slice.h"

namespace base {

// Walks the tokens of narrow text separated by delimiter characters, with
// optional quoting. The text must stay alive and unchanged while tokenizing.
//
//   StringTokenizer t("a,'b,c',d", ",");
//   t.set_quote_chars("'");
//   while (t.GetNext()) Use(t.token());  // a, 'b,c', d
class StringTokenizer {
 public:
  enum Options { RETURN_DELIMITERS = 1 << 0 };

  StringTokenizer(StringSlice text, StringSlice delimiters);

  // With RETURN_DELIMITERS each delimiter is returned as a token of its own.
  void set_options(int options) { options_ = options; }
  // A quote character opens a run, closed by the same character, in which
  // delimiters do not end the token and a backslash escapes the next one.
  void set_quote_chars(StringSlice quotes) { quotes_ = quotes.AsString(); }

  // Advances to the next token; false at the end of the text.
  bool GetNext();
  bool GetNextQuoted();
  bool GetNextUnquoted();

  StringSlice token_slice() const {
    return StringSlice(token_begin_, token_end_ - token_begin_);
  }
  std::string token() const { return token_slice().AsString(); }
  bool token_is_delimiter() const { return token_is_delimiter_; }

 private:
  struct QuoteState {
    char quote = 0;  // The open quote character, 0 outside quotes.
    bool escaped = false;
  };

  bool IsDelimiter(char c) const;
  bool IsQuote(char c) const;
  void AdvanceQuoteState(char c, QuoteState* state) const;

  const char* token_begin_;
  const char* token_end_;
  const char* end_;
  std::string delimiters_;
  std::string quotes_;
  int options_ = 0;
  bool token_is_delimiter_ = false;
};

}  // namespace base

#endif  // BASE_STRINGS_STRING_TOKENIZER_H_
