#include "base/strings/pattern_match.h"

#include <cstdint>

#include "base/strings/utf_code_point.h"

namespace base {

namespace {

// Wildcards nest by recursion; deeper tries count as failed.
constexpr int kMaxDepth = 16;

// A cursor over UTF-8 text.
struct Cursor {
  const char* text;
  size_t size;
  size_t position;

  bool AtEnd() const { return position >= size; }
  char Peek() const { return text[position]; }

  // Reads one code point; a malformed sequence reads as kInvalidCodePoint.
  int32_t Next() {
    const uint8_t lead = static_cast<uint8_t>(text[position++]);
    if (lead < 0x80)
      return lead;
    return ReadCodePointUtf8(text, &position, size, lead);
  }
};

bool SameCodePoint(int32_t a, int32_t b) {
  return a >= 0 && a == b;
}

// Advances both while their code points agree, stopping before an unescaped
// wildcard and before the first disagreement.
void SkipMatchingCodePoints(Cursor* pattern, Cursor* text) {
  while (!pattern->AtEnd() && !text->AtEnd()) {
    const size_t pattern_start = pattern->position;
    const char c = pattern->Peek();
    if (c == '*' || c == '?')
      return;
    int32_t expected = pattern->Next();
    // A trailing backslash has nothing to escape and stands for itself.
    if (c == '\\' && !pattern->AtEnd())
      expected = pattern->Next();
    const size_t text_start = text->position;
    if (!SameCodePoint(expected, text->Next())) {
      pattern->position = pattern_start;
      text->position = text_start;
      return;
    }
  }
}

void SkipWildcards(Cursor* pattern) {
  while (!pattern->AtEnd() && (pattern->Peek() == '*' || pattern->Peek() == '?'))
    ++pattern->position;
}

bool Match(Cursor text, Cursor pattern, int depth) {
  SkipMatchingCodePoints(&pattern, &text);
  if (text.AtEnd()) {
    SkipWildcards(&pattern);
    return pattern.AtEnd();
  }
  if (pattern.AtEnd())
    return false;

  const bool may_recurse = depth + 1 <= kMaxDepth;
  if (pattern.Peek() == '?') {
    ++pattern.position;
    if (may_recurse && Match(text, pattern, depth + 1))
      return true;
    text.Next();
    return may_recurse && Match(text, pattern, depth + 1);
  }
  if (pattern.Peek() == '*') {
    SkipWildcards(&pattern);
    for (; !text.AtEnd(); ++text.position) {
      if (may_recurse && Match(text, pattern, depth + 1))
        return true;
    }
    return pattern.AtEnd();
  }
  return false;
}

}  // namespace

bool MatchPatternUtf8(StringSlice text, StringSlice pattern) {
  return Match(Cursor{text.data(), text.size(), 0},
               Cursor{pattern.data(), pattern.size(), 0}, 0);
}

}  // namespace base
