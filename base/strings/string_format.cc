#include "base/strings/string_format.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace base {

namespace {

// Texts the appenders refuse to build, counted with the terminating NUL.
constexpr size_t kMaxFormattedSize = 32 * 1024 * 1024;
constexpr size_t kLocalBufferSize = 1024;

// Overloads so that one appender serves both widths.
int FormatIntoBufferFor(char* buffer, size_t size, const char* format,
                        va_list args) {
  return FormatIntoBufferV(buffer, size, format, args);
}

int FormatIntoBufferFor(wchar_t* buffer, size_t size, const wchar_t* format,
                        va_list args) {
  return FormatIntoWideBufferV(buffer, size, format, args);
}

// Formats with a fresh copy of `args`, as each run consumes its list.
template <typename CharT>
int FormatWithCopy(CharT* buffer, size_t size, const CharT* format,
                   va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int result = FormatIntoBufferFor(buffer, size, format, copy);
  va_end(copy);
  return result;
}

template <typename CharT>
void AppendFormatted(std::basic_string<CharT>* output, const CharT* format,
                     va_list args) {
  CharT local[kLocalBufferSize];
  int length = FormatWithCopy(local, kLocalBufferSize, format, args);
  if (length < 0)
    return;
  if (static_cast<size_t>(length) < kLocalBufferSize) {
    output->append(local, static_cast<size_t>(length));
    return;
  }
  for (;;) {
    const size_t size = static_cast<size_t>(length) + 1;
    if (size > kMaxFormattedSize)
      return;
    std::vector<CharT> heap(size, CharT{0});
    length = FormatWithCopy(heap.data(), size, format, args);
    if (length < 0)
      return;
    if (static_cast<size_t>(length) < size) {
      output->append(heap.data(), static_cast<size_t>(length));
      return;
    }
  }
}

}  // namespace

std::string FormatString(const char* format, ...) {
  std::string result;
  va_list args;
  va_start(args, format);
  AppendFormatV(&result, format, args);
  va_end(args);
  return result;
}

std::wstring FormatWideString(const wchar_t* format, ...) {
  std::wstring result;
  va_list args;
  va_start(args, format);
  AppendWideFormatV(&result, format, args);
  va_end(args);
  return result;
}

const std::string& FormatIntoString(std::string* output, const char* format,
                                    ...) {
  output->clear();
  va_list args;
  va_start(args, format);
  AppendFormatV(output, format, args);
  va_end(args);
  return *output;
}

void AppendFormat(std::string* output, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(output, format, args);
  va_end(args);
}

void AppendFormatV(std::string* output, const char* format, va_list args) {
  AppendFormatted(output, format, args);
}

void AppendWideFormatV(std::wstring* output, const wchar_t* format,
                       va_list args) {
  AppendFormatted(output, format, args);
}

int FormatIntoBufferV(char* buffer, size_t size, const char* format,
                      va_list args) {
  // The runtime's vsnprintf is C99: it cuts, terminates and returns the full
  // length itself.
  return vsnprintf(buffer, size, format, args);
}

int FormatIntoWideBufferV(wchar_t* buffer, size_t size, const wchar_t* format,
                          va_list args) {
  // The Microsoft functions keep "%s" wide. _vsnwprintf does not terminate a
  // text that fills the buffer and returns -1 for one that does not fit, so
  // keep the last unit for the NUL and ask _vscwprintf for the full length.
  if (size == 0)
    return _vscwprintf(format, args);
  va_list copy;
  va_copy(copy, args);
  const int written = _vsnwprintf(buffer, size - 1, format, copy);
  va_end(copy);
  buffer[size - 1] = L'\0';
  if (written >= 0) {
    buffer[written] = L'\0';
    return written;
  }
  return _vscwprintf(format, args);
}

int FormatIntoBuffer(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = vsnprintf(buffer, size, format, args);
  va_end(args);
  return result < 0 ? -1 : result;
}

}  // namespace base
