#include "base/strings/string_tokenizer.h"

namespace base {

StringTokenizer::StringTokenizer(StringSlice text, StringSlice delimiters)
    : token_begin_(text.data()),
      token_end_(text.data()),
      end_(text.data() + text.size()),
      delimiters_(delimiters.AsString()) {}

bool StringTokenizer::GetNext() {
  if (!quotes_.empty() || options_ != 0)
    return GetNextQuoted();
  return GetNextUnquoted();
}

bool StringTokenizer::GetNextUnquoted() {
  token_is_delimiter_ = false;
  for (;;) {
    token_begin_ = token_end_;
    if (token_end_ == end_)
      return false;
    if (IsDelimiter(*token_end_++))
      continue;
    while (token_end_ != end_ && !IsDelimiter(*token_end_))
      ++token_end_;
    return true;
  }
}

bool StringTokenizer::GetNextQuoted() {
  token_is_delimiter_ = false;
  for (;;) {
    token_begin_ = token_end_;
    if (token_end_ == end_)
      return false;
    const char first = *token_end_++;
    if (IsDelimiter(first)) {
      if (options_ & RETURN_DELIMITERS) {
        token_is_delimiter_ = true;
        return true;
      }
      continue;
    }
    QuoteState state;
    AdvanceQuoteState(first, &state);
    while (token_end_ != end_ && (state.quote || !IsDelimiter(*token_end_)))
      AdvanceQuoteState(*token_end_++, &state);
    return true;
  }
}

bool StringTokenizer::IsDelimiter(char c) const {
  return delimiters_.find(c) != std::string::npos;
}

bool StringTokenizer::IsQuote(char c) const {
  return quotes_.find(c) != std::string::npos;
}

void StringTokenizer::AdvanceQuoteState(char c, QuoteState* state) const {
  if (!state->quote) {
    if (IsQuote(c))
      state->quote = c;
  } else if (state->escaped) {
    state->escaped = false;
  } else if (c == '\\') {
    state->escaped = true;
  } else if (c == state->quote) {
    state->quote = 0;
  }
}

}  // namespace base
