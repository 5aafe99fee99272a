#ifndef BASE_STRINGS_STRING_SPLIT_H_
#define BASE_STRINGS_STRING_SPLIT_H_

#include <string>
#include <utility>
#include <vector>

#include "base/strings/string_slice.h"

namespace base {

// Whether each piece is trimmed at both ends (narrow pieces by
// AsciiWhitespace, wide pieces by UnicodeWhitespace).
enum WhitespaceMode { KEEP_WHITESPACE = 0, TRIM_WHITESPACE = 1 };

// Whether pieces that are empty (after trimming) are dropped.
enum PieceMode { SPLIT_WANT_ALL = 0, SPLIT_WANT_NONEMPTY = 1 };

// Splits at any of the separator characters. An empty input gives no pieces;
// n separators give n + 1 pieces before PieceMode filtering.
std::vector<std::string> SplitString(StringSlice input,
                                     StringSlice separators,
                                     WhitespaceMode whitespace,
                                     PieceMode pieces);
std::vector<std::wstring> SplitWideString(WideStringSlice input,
                                          WideStringSlice separators,
                                          WhitespaceMode whitespace,
                                          PieceMode pieces);

std::vector<std::string> SplitNarrowByChar(StringSlice input,
                                           char separator,
                                           WhitespaceMode whitespace,
                                           PieceMode pieces);
std::vector<std::string> SplitNarrowByAnyOf(StringSlice input,
                                            StringSlice separators,
                                            WhitespaceMode whitespace,
                                            PieceMode pieces);
std::vector<std::wstring> SplitWideByChar(WideStringSlice input,
                                          wchar_t separator,
                                          WhitespaceMode whitespace,
                                          PieceMode pieces);
std::vector<std::wstring> SplitWideByAnyOf(WideStringSlice input,
                                           WideStringSlice separators,
                                           WhitespaceMode whitespace,
                                           PieceMode pieces);

// Like SplitNarrowByChar, but the pieces point into `input`.
std::vector<StringSlice> SplitIntoPieces(StringSlice input,
                                         char separator,
                                         WhitespaceMode whitespace,
                                         PieceMode pieces);

using StringPairs = std::vector<std::pair<std::string, std::string>>;

// Parses "key=value,key=value". Every piece adds a pair, even a malformed one
// (which stays empty or keyed only); returns false when any piece was
// malformed.
bool SplitKeyValuePairs(StringSlice input, StringPairs* pairs);

}  // namespace base

#endif  // BASE_STRINGS_STRING_SPLIT_H_
