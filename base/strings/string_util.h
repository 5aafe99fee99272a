#ifndef BASE_STRINGS_STRING_UTIL_H_
#define BASE_STRINGS_STRING_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/strings/string_slice.h"

namespace base {

// The whitespace of narrow text: tab, LF, VT, FF, CR and space.
inline constexpr char AsciiWhitespace[] = "\t\n\v\f\r ";

// The whitespace of wide text (25 units).
inline constexpr wchar_t UnicodeWhitespace[] =
    L"\u0009\u000A\u000B\u000C\u000D\u0020\u0085\u00A0\u1680"
    L"\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200A"
    L"\u2028\u2029\u202F\u205F\u3000";

// Bit flags: where trim characters were removed. TRIM_ALL also stands for a
// non-empty text made only of trim characters.
enum TrimResult {
  TRIM_NONE = 0,
  TRIM_LEADING = 1,
  TRIM_TRAILING = 2,
  TRIM_ALL = TRIM_LEADING | TRIM_TRAILING,
};

// Case handling only ever folds the ASCII letters.
enum CaseMode { CASE_SENSITIVE = 0, CASE_INSENSITIVE_ASCII = 1 };

// Removes characters of `trim_chars` from both ends. `output` may be `&input`.
TrimResult TrimWideString(const std::wstring& input,
                          WideStringSlice trim_chars,
                          std::wstring* output);

// Drops leading and trailing whitespace, replaces each inner run by one space
// and removes inner runs that contain a line break entirely.
std::string CollapseWhitespace(StringSlice text);

std::string JoinStrings(const std::vector<std::string>& parts,
                        StringSlice separator);
std::wstring JoinWideStrings(const std::vector<std::wstring>& parts,
                             WideStringSlice separator);

// Replaces the first match of `find` at or after `start_offset`, or every
// match when `replace_all`. Matches never overlap. An empty `find` changes
// nothing.
void ReplaceSubstring(std::string* text,
                      size_t start_offset,
                      StringSlice find,
                      StringSlice replace_with,
                      bool replace_all);

// Copies `input` to `output` with each character of `characters` replaced by
// `replace_with` (which is not searched again). True when anything changed.
bool ReplaceChars(StringSlice input,
                  StringSlice characters,
                  StringSlice replace_with,
                  std::string* output);

std::string ToLowerAsciiString(StringSlice text);
std::string ToUpperAsciiString(StringSlice text);
bool EqualsCaseInsensitiveAscii(StringSlice a, StringSlice b);

// `ascii` is not folded: it must be given in lower case to match.
bool WideLowerCaseEqualsAscii(WideStringSlice wide, StringSlice ascii);

// Any mode other than the two CaseMode values makes these false.
bool StartsWithWide(WideStringSlice text, WideStringSlice prefix, CaseMode mode);
bool EndsWithWide(WideStringSlice text, WideStringSlice suffix, CaseMode mode);

bool IsStringAscii(WideStringSlice text);
bool IsWideAscii(const wchar_t* units, size_t count);
bool IsNarrowAscii(const char* bytes, size_t count);

// Prepares `text` for a system call that writes up to n - 1 characters and a
// NUL: the length becomes n - 1 (new room zero-filled) and the buffer is
// returned. n == 0 is treated as 1 (an empty string whose buffer holds just
// the terminator) rather than wrapping to a huge length.
wchar_t* ResizeWideForWrite(std::wstring* text, size_t n);

// Never inlined and opaque to the optimiser: passing the address of a local
// keeps that local in memory with its current value for a later crash dump.
void KeepValueAlive(const volatile void* address);

}  // namespace base

#endif  // BASE_STRINGS_STRING_UTIL_H_
