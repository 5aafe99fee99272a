#ifndef BASE_STRINGS_STRING_FORMAT_H_
#define BASE_STRINGS_STRING_FORMAT_H_

#include <cstdarg>
#include <cstddef>
#include <string>

// Narrow formats follow the C99 printf of the runtime (which also reads the
// "I" size prefixes); the compiler checks them with these attributes.
#define BASE_PRINTF_FORMAT(format_index, first_arg) \
  __attribute__((format(gnu_printf, format_index, first_arg)))

namespace base {

// Narrow text of more than 32 Mi characters, and text whose formatting fails,
// is never produced: the appenders then append nothing. Wide formats use the
// Microsoft directives, so "%s" there takes a wide string ("%hs" a narrow one).

std::string FormatString(const char* format, ...) BASE_PRINTF_FORMAT(1, 2);
std::wstring FormatWideString(const wchar_t* format, ...);
const std::string& FormatIntoString(std::string* output, const char* format, ...)
    BASE_PRINTF_FORMAT(2, 3);
void AppendFormat(std::string* output, const char* format, ...)
    BASE_PRINTF_FORMAT(2, 3);

void AppendFormatV(std::string* output, const char* format, va_list args)
    BASE_PRINTF_FORMAT(2, 0);
void AppendWideFormatV(std::wstring* output, const wchar_t* format, va_list args);

// Write at most size - 1 characters and a NUL (nothing when size is 0) and
// return the length of the full text, or a negative value when formatting
// fails; a result of size or more means the text was cut.
int FormatIntoBufferV(char* buffer, size_t size, const char* format, va_list args)
    BASE_PRINTF_FORMAT(3, 0);
int FormatIntoWideBufferV(wchar_t* buffer,
                          size_t size,
                          const wchar_t* format,
                          va_list args);

// snprintf: as above, and nothing is written when size is 0; -1 on error.
int FormatIntoBuffer(char* buffer, size_t size, const char* format, ...)
    BASE_PRINTF_FORMAT(3, 4);

}  // namespace base

#endif  // BASE_STRINGS_STRING_FORMAT_H_
