#include "base/strings/utf_string_conversions.h"

#include <cstdint>
#include <type_traits>

#include "base/strings/string_util.h"
#include "base/strings/utf_code_point.h"

namespace base {

namespace {

bool IsLeadSurrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsTrailSurrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Copies unit by unit into the grown end of `output`; the caller has checked
// that every unit is ASCII.
template <typename From, typename To>
void AppendAscii(const From* text, size_t length, std::basic_string<To>* output) {
  const size_t old_size = output->size();
  output->resize(old_size + length);
  To* out = output->data() + old_size;
  for (size_t i = 0; i < length; ++i)
    out[i] = static_cast<To>(static_cast<std::make_unsigned_t<From>>(text[i]));
}

// Collects output units in a stack buffer and appends them in chunks.
template <typename CharT>
class ChunkedAppender {
 public:
  explicit ChunkedAppender(std::basic_string<CharT>* output) : output_(output) {}
  ChunkedAppender(const ChunkedAppender&) = delete;
  ChunkedAppender& operator=(const ChunkedAppender&) = delete;
  ~ChunkedAppender() { Flush(); }

  void Put(CharT unit) {
    if (used_ == kSize)
      Flush();
    buffer_[used_++] = unit;
  }

  // The same bit layout as WriteCodePointUtf8, for a valid scalar value.
  void PutUtf8(uint32_t c) {
    if (used_ + 4 > kSize)
      Flush();
    if (c < 0x800) {
      buffer_[used_++] = static_cast<CharT>(0xC0 | (c >> 6));
    } else {
      if (c < 0x10000) {
        buffer_[used_++] = static_cast<CharT>(0xE0 | (c >> 12));
      } else {
        buffer_[used_++] = static_cast<CharT>(0xF0 | (c >> 18));
        buffer_[used_++] = static_cast<CharT>(0x80 | ((c >> 12) & 0x3F));
      }
      buffer_[used_++] = static_cast<CharT>(0x80 | ((c >> 6) & 0x3F));
    }
    buffer_[used_++] = static_cast<CharT>(0x80 | (c & 0x3F));
  }

 private:
  static constexpr size_t kSize = 512;

  void Flush() {
    output_->append(buffer_, used_);
    used_ = 0;
  }

  std::basic_string<CharT>* output_;
  CharT buffer_[kSize];
  size_t used_ = 0;
};

}  // namespace

bool ConvertUtf8ToUtf16(const char* utf8, size_t length, std::wstring* output) {
  if (length == 0)
    return true;
  if (IsNarrowAscii(utf8, length)) {
    AppendAscii(utf8, length, output);
    return true;
  }
  const bool starts_wide = static_cast<uint8_t>(utf8[0]) >= 0x80;
  output->reserve(output->size() + (starts_wide ? length / 2 : length));

  // Decoding goes through a small stack buffer: one append per chunk costs
  // far less than a capacity check per unit.
  ChunkedAppender<wchar_t> out(output);
  bool valid = true;
  for (size_t i = 0; i < length;) {
    const uint8_t byte = static_cast<uint8_t>(utf8[i++]);
    if (byte < 0x80) {
      out.Put(static_cast<wchar_t>(byte));
      continue;
    }
    int32_t code_point = kInvalidCodePoint;
    if (byte >= 0xC0 && byte <= 0xFD)
      code_point = ReadCodePointUtf8(utf8, &i, length, byte);
    if (code_point >= 0 && code_point < 0xD800) {
      out.Put(static_cast<wchar_t>(code_point));
    } else if (code_point >= 0xE000 && code_point <= 0x10FFFF) {
      if (code_point < 0x10000) {
        out.Put(static_cast<wchar_t>(code_point));
      } else {
        out.Put(static_cast<wchar_t>(0xD7C0 + (code_point >> 10)));
        out.Put(static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF)));
      }
    } else {
      out.Put(static_cast<wchar_t>(kReplacementCharacter));
      valid = false;
    }
  }
  return valid;
}

bool ConvertUtf16ToUtf8(const wchar_t* utf16, size_t length, std::string* output) {
  if (length == 0)
    return true;
  if (IsWideAscii(utf16, length)) {
    AppendAscii(utf16, length, output);
    return true;
  }
  const bool starts_wide = static_cast<uint16_t>(utf16[0]) >= 0x80;
  output->reserve(output->size() + (starts_wide ? length * 3 : length));

  ChunkedAppender<char> out(output);
  bool valid = true;
  for (size_t i = 0; i < length; ++i) {
    const uint32_t unit = static_cast<uint16_t>(utf16[i]);
    if (unit < 0x80) {
      out.Put(static_cast<char>(unit));
    } else if (!IsLeadSurrogate(unit) && !IsTrailSurrogate(unit)) {
      out.PutUtf8(unit);
    } else if (IsLeadSurrogate(unit) && i + 1 < length &&
               IsTrailSurrogate(static_cast<uint16_t>(utf16[i + 1]))) {
      const uint32_t trail = static_cast<uint16_t>(utf16[++i]);
      out.PutUtf8(0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00));
    } else {
      out.PutUtf8(kReplacementCharacter);
      valid = false;
    }
  }
  return valid;
}

std::wstring Utf8ToWide(StringSlice utf8) {
  return Utf8PieceToWide(utf8.data(), utf8.size());
}

std::wstring Utf8PieceToWide(const char* utf8, size_t length) {
  std::wstring wide;
  ConvertUtf8ToUtf16(utf8, length, &wide);
  return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
  return WidePieceToUtf8(wide);
}

std::string WidePieceToUtf8(WideStringSlice wide) {
  std::string utf8;
  ConvertUtf16ToUtf8(wide.data(), wide.size(), &utf8);
  return utf8;
}

std::wstring AsciiToWide(StringSlice ascii) {
  std::wstring wide;
  AppendAscii(ascii.data(), ascii.size(), &wide);
  return wide;
}

std::string WideToAscii(WideStringSlice wide) {
  std::string ascii(wide.size(), '\0');
  for (size_t i = 0; i < wide.size(); ++i)
    ascii[i] = static_cast<char>(wide[i]);
  return ascii;
}

}  // namespace base
