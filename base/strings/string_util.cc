#include "base/strings/string_util.h"

#include <cstring>
#include <cwchar>
#include <type_traits>

namespace base {

namespace {

char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

char ToUpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

wchar_t ToLowerAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

bool IsAsciiWhitespace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// ORs every unit into one word, reading whole words once the pointer is
// aligned, and tests the high bits of the result once.
template <typename CharT>
bool IsAscii(const CharT* text, size_t count, uint64_t non_ascii_mask) {
  uint64_t all = 0;
  size_t i = 0;
  for (; i < count && (reinterpret_cast<uintptr_t>(text + i) & 7) != 0; ++i)
    all |= static_cast<std::make_unsigned_t<CharT>>(text[i]);
  constexpr size_t kPerWord = sizeof(uint64_t) / sizeof(CharT);
  for (; i + kPerWord <= count; i += kPerWord) {
    uint64_t word;
    std::memcpy(&word, text + i, sizeof(word));
    all |= word;
  }
  for (; i < count; ++i)
    all |= static_cast<std::make_unsigned_t<CharT>>(text[i]);
  return (all & non_ascii_mask) == 0;
}

template <typename CharT>
std::basic_string<CharT> Join(const std::vector<std::basic_string<CharT>>& parts,
                              BasicStringSlice<CharT> separator) {
  std::basic_string<CharT> result;
  if (parts.empty())
    return result;
  size_t total = separator.size() * (parts.size() - 1);
  for (const auto& part : parts)
    total += part.size();
  result.reserve(total);
  result = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    if (!separator.empty())
      result.append(separator.data(), separator.size());
    result += parts[i];
  }
  return result;
}

// Compares equal-length wide texts under `mode`.
bool EqualsWithCaseMode(const wchar_t* a, const wchar_t* b, size_t count,
                        CaseMode mode) {
  if (mode == CASE_SENSITIVE)
    return count == 0 || std::wmemcmp(a, b, count) == 0;
  if (mode != CASE_INSENSITIVE_ASCII)
    return false;
  for (size_t i = 0; i < count; ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i]))
      return false;
  }
  return true;
}

// Replace-all where the text shrinks: one forward pass that moves the text
// between matches down behind a write position.
void ReplaceAllShrinking(std::string* text, size_t first_match,
                         StringSlice find, StringSlice replace_with) {
  std::string& s = *text;
  size_t write = first_match;
  size_t match = first_match;
  while (match != std::string::npos) {
    std::memmove(&s[0] + write, replace_with.data(), replace_with.size());
    write += replace_with.size();
    const size_t read = match + find.size();
    match = s.find(find.data(), read, find.size());
    const size_t stop = match == std::string::npos ? s.size() : match;
    std::memmove(&s[0] + write, s.data() + read, stop - read);
    write += stop - read;
  }
  s.resize(write);
}

// Replace-all where the text grows: count the matches to size the result
// once, then build it. (Walking matches backwards instead could pick other,
// overlapping matches than the forward scan and change the result.)
void ReplaceAllGrowing(std::string* text, size_t first_match,
                       StringSlice find, StringSlice replace_with) {
  const std::string& s = *text;
  size_t count = 0;
  for (size_t m = first_match; m != std::string::npos;
       m = s.find(find.data(), m + find.size(), find.size())) {
    ++count;
  }
  std::string result;
  result.reserve(s.size() + count * (replace_with.size() - find.size()));
  size_t read = 0;
  for (size_t m = first_match; m != std::string::npos;
       m = s.find(find.data(), read, find.size())) {
    result.append(s, read, m - read);
    result.append(replace_with.data(), replace_with.size());
    read = m + find.size();
  }
  result.append(s, read, std::string::npos);
  text->swap(result);
}

}  // namespace

TrimResult TrimWideString(const std::wstring& input, WideStringSlice trim_chars,
                          std::wstring* output) {
  const WideStringSlice text(input);
  if (text.empty()) {
    output->clear();
    return TRIM_NONE;
  }
  const size_t first = text.FindFirstNotOf(trim_chars);
  if (first == WideStringSlice::npos) {
    output->clear();
    return TRIM_ALL;
  }
  const size_t last = text.FindLastNotOf(trim_chars);
  int result = TRIM_NONE;
  if (first != 0)
    result |= TRIM_LEADING;
  if (last != text.size() - 1)
    result |= TRIM_TRAILING;
  // substr makes a copy first, so `output` may alias `input`.
  *output = input.substr(first, last - first + 1);
  return static_cast<TrimResult>(result);
}

std::string CollapseWhitespace(StringSlice text) {
  std::string result;
  result.reserve(text.size());
  bool in_whitespace = true;
  bool already_trimmed = true;
  for (char c : text) {
    if (!IsAsciiWhitespace(c)) {
      result.push_back(c);
      in_whitespace = false;
      already_trimmed = false;
      continue;
    }
    if (!in_whitespace) {
      result.push_back(' ');
      in_whitespace = true;
    }
    // A run holding a line break vanishes entirely.
    if ((c == '\r' || c == '\n') && !already_trimmed) {
      result.pop_back();
      already_trimmed = true;
    }
  }
  if (in_whitespace && !already_trimmed)
    result.pop_back();
  return result;
}

std::string JoinStrings(const std::vector<std::string>& parts,
                        StringSlice separator) {
  return Join(parts, separator);
}

std::wstring JoinWideStrings(const std::vector<std::wstring>& parts,
                             WideStringSlice separator) {
  return Join(parts, separator);
}

void ReplaceSubstring(std::string* text, size_t start_offset, StringSlice find,
                      StringSlice replace_with, bool replace_all) {
  // An empty search text would match everywhere and never advance.
  if (find.empty())
    return;
  const size_t first = text->find(find.data(), start_offset, find.size());
  if (first == std::string::npos)
    return;
  if (!replace_all) {
    text->replace(first, find.size(), replace_with.data(), replace_with.size());
    return;
  }
  if (replace_with.size() == find.size()) {
    for (size_t m = first; m != std::string::npos;
         m = text->find(find.data(), m + find.size(), find.size())) {
      text->replace(m, find.size(), replace_with.data(), replace_with.size());
    }
  } else if (replace_with.size() < find.size()) {
    ReplaceAllShrinking(text, first, find, replace_with);
  } else {
    ReplaceAllGrowing(text, first, find, replace_with);
  }
}

bool ReplaceChars(StringSlice input, StringSlice characters,
                  StringSlice replace_with, std::string* output) {
  *output = input.AsString();
  if (characters.empty())
    return false;
  bool replaced = false;
  for (size_t position = output->find_first_of(characters.data(), 0,
                                               characters.size());
       position != std::string::npos;
       position = output->find_first_of(characters.data(),
                                        position + replace_with.size(),
                                        characters.size())) {
    output->replace(position, 1, replace_with.data(), replace_with.size());
    replaced = true;
  }
  return replaced;
}

std::string ToLowerAsciiString(StringSlice text) {
  std::string result(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i)
    result[i] = ToLowerAscii(text[i]);
  return result;
}

std::string ToUpperAsciiString(StringSlice text) {
  std::string result(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i)
    result[i] = ToUpperAscii(text[i]);
  return result;
}

bool EqualsCaseInsensitiveAscii(StringSlice a, StringSlice b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i]))
      return false;
  }
  return true;
}

bool WideLowerCaseEqualsAscii(WideStringSlice wide, StringSlice ascii) {
  if (wide.size() != ascii.size())
    return false;
  for (size_t i = 0; i < wide.size(); ++i) {
    if (ToLowerAscii(wide[i]) !=
        static_cast<wchar_t>(static_cast<unsigned char>(ascii[i]))) {
      return false;
    }
  }
  return true;
}

bool StartsWithWide(WideStringSlice text, WideStringSlice prefix, CaseMode mode) {
  if (prefix.size() > text.size())
    return false;
  return EqualsWithCaseMode(text.data(), prefix.data(), prefix.size(), mode);
}

bool EndsWithWide(WideStringSlice text, WideStringSlice suffix, CaseMode mode) {
  if (suffix.size() > text.size())
    return false;
  return EqualsWithCaseMode(text.data() + (text.size() - suffix.size()),
                            suffix.data(), suffix.size(), mode);
}

bool IsStringAscii(WideStringSlice text) {
  return IsWideAscii(text.data(), text.size());
}

bool IsWideAscii(const wchar_t* units, size_t count) {
  return IsAscii(units, count, 0xFF80FF80FF80FF80ull);
}

bool IsNarrowAscii(const char* bytes, size_t count) {
  return IsAscii(bytes, count, 0x8080808080808080ull);
}

wchar_t* ResizeWideForWrite(std::wstring* text, size_t n) {
  const size_t room = n == 0 ? 1 : n;
  text->reserve(room);
  text->resize(room - 1);
  return text->data();
}

__attribute__((noinline)) void KeepValueAlive(const volatile void* address) {
  // Tells the compiler that memory is read through `address`, so stores to
  // the variable before the call cannot be dropped.
  asm volatile("" : : "r"(address) : "memory");
}

}  // namespace base
