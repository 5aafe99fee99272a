#ifndef BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_
#define BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/strings/string_slice.h"

namespace base {

// Decimal text: no leading zeros or blanks, "-" for negative values only.
std::string IntToString(int32_t value);
std::wstring IntToString16(int32_t value);
std::wstring UintToString16(uint32_t value);
std::string Int64ToString(int64_t value);
std::wstring Int64ToString16(int64_t value);
std::string Uint64ToString(uint64_t value);
std::wstring Uint64ToString16(uint64_t value);

// Upper-case hexadecimal, two characters per byte, high nibble first.
std::string HexEncode(const void* bytes, size_t count);

// Strict decimal parsers: true only when the whole text is an optional sign
// and digits within range. `*output` is always defined when false: 0 for no
// digits (or a "-" before an unsigned type), the value of the digits before
// the first stray character, or the bound that was overflowed. Leading
// whitespace is skipped but makes the result false.
bool StringToInt(StringSlice input, int32_t* output);
bool StringToInt64Impl(const char* begin, const char* end, int64_t* output);
bool StringToUintImpl(const char* begin, const char* end, uint32_t* output);
bool StringToUint64(StringSlice input, uint64_t* output);
bool WideStringToUint(WideStringSlice input, uint32_t* output);
bool WideStringToInt64(WideStringSlice input, int64_t* output);

// Like the decimal parsers, with an optional "0x"/"0X" prefix; on overflow
// `*output` has all bits set.
bool HexStringToUInt64(StringSlice input, uint64_t* output);

// Appends one byte per pair of hex digits. An empty or odd-length text
// appends nothing; a bad pair stops with the earlier bytes appended. Either
// gives false.
bool HexStringToBytes(const std::string& input, std::vector<uint8_t>* output);

// The value of one hexadecimal digit (0-9, a-f, A-F), or -1 for any other
// character.
int HexDigitToInt(char c);

// True only for a complete, in-range number with no leading whitespace;
// `*output` is written in every case (infinity on overflow). errno is left as
// it was unless the conversion raised a range error.
bool StringToDouble(const std::string& input, double* output);

}  // namespace base

#endif  // BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_
