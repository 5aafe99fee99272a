#ifndef BASE_STRINGS_STRING_SLICE_H_
#define BASE_STRINGS_STRING_SLICE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

// A non-owning view of narrow (UTF-8 or ASCII) or wide (UTF-16) text. The text
// it points into must outlive it. Positions are 64-bit; npos means "not found".
template <typename CharT>
class BasicStringSlice {
 public:
  using value_type = CharT;
  using size_type = uint64_t;
  using StringType = std::basic_string<CharT>;
  static constexpr size_type npos = ~size_type{0};

  constexpr BasicStringSlice() = default;
  constexpr BasicStringSlice(const CharT* data, size_type length)
      : data_(data), length_(length) {}
  // From a NUL-terminated C string; null gives an empty slice.
  constexpr BasicStringSlice(const CharT* text)  // NOLINT: implicit by design
      : data_(text), length_(text ? std::char_traits<CharT>::length(text) : 0) {}
  BasicStringSlice(const StringType& text)  // NOLINT: implicit by design
      : data_(text.data()), length_(text.size()) {}

  constexpr const CharT* data() const { return data_; }
  constexpr size_type length() const { return length_; }
  constexpr size_type size() const { return length_; }
  constexpr bool empty() const { return length_ == 0; }
  constexpr const CharT* begin() const { return data_; }
  constexpr const CharT* end() const { return data_ + length_; }
  constexpr CharT operator[](size_type i) const { return data_[i]; }

  bool Equals(BasicStringSlice other) const {
    return length_ == other.length_ &&
           (length_ == 0 ||
            std::char_traits<CharT>::compare(data_, other.data_, length_) == 0);
  }
  StringType AsString() const {
    return empty() ? StringType() : StringType(data_, length_);
  }
  BasicStringSlice Substr(size_type position, size_type count = npos) const {
    const size_type start = position < length_ ? position : length_;
    const size_type rest = length_ - start;
    return BasicStringSlice(data_ + start, count < rest ? count : rest);
  }

  // Searches for characters in or out of `set`. A one-character set is
  // compared directly; a larger narrow set goes through a 256-entry table.
  size_type FindFirstNotOf(BasicStringSlice set) const;
  size_type FindLastOf(BasicStringSlice set) const;
  size_type FindLastNotOf(BasicStringSlice set) const;

 private:
  const CharT* data_ = nullptr;
  size_type length_ = 0;
};

using StringSlice = BasicStringSlice<char>;
using WideStringSlice = BasicStringSlice<wchar_t>;

// The set searches are defined in string_slice.cc for these two widths.
extern template class BasicStringSlice<char>;
extern template class BasicStringSlice<wchar_t>;

template <typename CharT>
bool operator==(BasicStringSlice<CharT> a, BasicStringSlice<CharT> b) {
  return a.Equals(b);
}

}  // namespace base

#endif  // BASE_STRINGS_STRING_SLICE_H_
