#include "base/strings/string_split.h"

#include "base/strings/string_util.h"

namespace base {

namespace {

template <typename CharT>
BasicStringSlice<CharT> Whitespace();

template <>
StringSlice Whitespace<char>() {
  return AsciiWhitespace;
}

template <>
WideStringSlice Whitespace<wchar_t>() {
  return UnicodeWhitespace;
}

template <typename CharT>
BasicStringSlice<CharT> TrimPiece(BasicStringSlice<CharT> piece) {
  const auto first = piece.FindFirstNotOf(Whitespace<CharT>());
  if (first == piece.npos)
    return BasicStringSlice<CharT>();
  const auto last = piece.FindLastNotOf(Whitespace<CharT>());
  return piece.Substr(first, last - first + 1);
}

// Splits at every character for which `is_separator` holds, handing each
// kept piece (a slice into `input`) to `add`.
template <typename CharT, typename IsSeparator, typename Add>
void SplitSlices(BasicStringSlice<CharT> input, IsSeparator is_separator,
                 WhitespaceMode whitespace, PieceMode pieces, Add add) {
  if (input.empty())
    return;
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < input.size() && !is_separator(input[end]))
      ++end;
    BasicStringSlice<CharT> piece = input.Substr(start, end - start);
    if (whitespace == TRIM_WHITESPACE)
      piece = TrimPiece(piece);
    if (pieces == SPLIT_WANT_ALL || !piece.empty())
      add(piece);
    if (end == input.size())
      return;
    start = end + 1;
  }
}

template <typename CharT>
std::vector<std::basic_string<CharT>> SplitByChar(BasicStringSlice<CharT> input,
                                                  CharT separator,
                                                  WhitespaceMode whitespace,
                                                  PieceMode pieces) {
  std::vector<std::basic_string<CharT>> result;
  SplitSlices(
      input, [separator](CharT c) { return c == separator; }, whitespace,
      pieces, [&result](BasicStringSlice<CharT> p) {
        result.push_back(p.AsString());
      });
  return result;
}

template <typename CharT>
std::vector<std::basic_string<CharT>> SplitByAnyOf(
    BasicStringSlice<CharT> input,
    BasicStringSlice<CharT> separators,
    WhitespaceMode whitespace,
    PieceMode pieces) {
  std::vector<std::basic_string<CharT>> result;
  auto is_separator = [separators](CharT c) {
    for (CharT s : separators) {
      if (s == c)
        return true;
    }
    return false;
  };
  SplitSlices(input, is_separator, whitespace, pieces,
              [&result](BasicStringSlice<CharT> p) {
                result.push_back(p.AsString());
              });
  return result;
}

// The pieces of one "key=value"; false when it has no "=" or no value.
bool SplitKeyValue(StringSlice piece, std::pair<std::string, std::string>* pair) {
  size_t equals = 0;
  while (equals < piece.size() && piece[equals] != '=')
    ++equals;
  if (equals == piece.size())
    return false;
  pair->first = piece.Substr(0, equals).AsString();
  size_t value = equals;
  while (value < piece.size() && piece[value] == '=')
    ++value;
  if (value == piece.size())
    return false;
  pair->second = piece.Substr(value).AsString();
  return true;
}

}  // namespace

std::vector<std::string> SplitString(StringSlice input, StringSlice separators,
                                     WhitespaceMode whitespace,
                                     PieceMode pieces) {
  if (separators.size() == 1)
    return SplitNarrowByChar(input, separators[0], whitespace, pieces);
  return SplitNarrowByAnyOf(input, separators, whitespace, pieces);
}

std::vector<std::wstring> SplitWideString(WideStringSlice input,
                                          WideStringSlice separators,
                                          WhitespaceMode whitespace,
                                          PieceMode pieces) {
  if (separators.size() == 1)
    return SplitWideByChar(input, separators[0], whitespace, pieces);
  return SplitWideByAnyOf(input, separators, whitespace, pieces);
}

std::vector<std::string> SplitNarrowByChar(StringSlice input, char separator,
                                           WhitespaceMode whitespace,
                                           PieceMode pieces) {
  return SplitByChar(input, separator, whitespace, pieces);
}

std::vector<std::string> SplitNarrowByAnyOf(StringSlice input,
                                            StringSlice separators,
                                            WhitespaceMode whitespace,
                                            PieceMode pieces) {
  return SplitByAnyOf(input, separators, whitespace, pieces);
}

std::vector<std::wstring> SplitWideByChar(WideStringSlice input,
                                          wchar_t separator,
                                          WhitespaceMode whitespace,
                                          PieceMode pieces) {
  return SplitByChar(input, separator, whitespace, pieces);
}

std::vector<std::wstring> SplitWideByAnyOf(WideStringSlice input,
                                           WideStringSlice separators,
                                           WhitespaceMode whitespace,
                                           PieceMode pieces) {
  return SplitByAnyOf(input, separators, whitespace, pieces);
}

std::vector<StringSlice> SplitIntoPieces(StringSlice input, char separator,
                                         WhitespaceMode whitespace,
                                         PieceMode pieces) {
  std::vector<StringSlice> result;
  SplitSlices(
      input, [separator](char c) { return c == separator; }, whitespace,
      pieces, [&result](StringSlice p) { result.push_back(p); });
  return result;
}

bool SplitKeyValuePairs(StringSlice input, StringPairs* pairs) {
  pairs->clear();
  const std::vector<StringSlice> pieces =
      SplitIntoPieces(input, ',', TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY);
  pairs->reserve(pieces.size());
  bool all_valid = true;
  for (StringSlice piece : pieces) {
    pairs->emplace_back();
    if (!SplitKeyValue(piece, &pairs->back()))
      all_valid = false;
  }
  return all_valid;
}

}  // namespace base
