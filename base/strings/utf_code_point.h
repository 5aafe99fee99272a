#ifndef BASE_STRINGS_UTF_CODE_POINT_H_
#define BASE_STRINGS_UTF_CODE_POINT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

// What a failed read returns; it equals no code point.
inline constexpr int32_t kInvalidCodePoint = -1;

// U+FFFD, which stands in for each malformed sequence.
inline constexpr int32_t kReplacementCharacter = 0xFFFD;

// Reads the rest of the UTF-8 sequence whose lead byte `lead` the caller has
// already consumed (*index is just past it). On success *index is past the
// sequence; on failure it is past the lead byte and the continuation bytes
// that belong to the malformed sequence, and kInvalidCodePoint is returned.
int32_t ReadCodePointUtf8(const char* text,
                          size_t* index,
                          size_t length,
                          uint8_t lead);

// Append the encoding of a Unicode scalar value; return the count written.
int WriteCodePointUtf8(int32_t code_point, std::string* output);
int WriteCodePointUtf16(int32_t code_point, std::wstring* output);

// True for a Unicode scalar value that is not a noncharacter.
bool IsValidCodePoint(int32_t code_point);

}  // namespace base

#endif  // BASE_STRINGS_UTF_CODE_POINT_H_
