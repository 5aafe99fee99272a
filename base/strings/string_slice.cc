#include "base/strings/string_slice.h"

#include <array>

namespace base {

namespace {

// Membership test for a character set. Narrow sets of more than one byte are
// looked up in a table, so that a search costs one load per character.
template <typename CharT>
class CharSet {
 public:
  explicit CharSet(BasicStringSlice<CharT> set) : set_(set) {
    if constexpr (sizeof(CharT) == 1) {
      if (set.size() > 1) {
        for (CharT c : set)
          table_[static_cast<unsigned char>(c)] = true;
      }
    }
  }

  bool Contains(CharT c) const {
    if (set_.size() == 1)
      return c == set_[0];
    if constexpr (sizeof(CharT) == 1) {
      return table_[static_cast<unsigned char>(c)];
    } else {
      for (CharT member : set_) {
        if (member == c)
          return true;
      }
      return false;
    }
  }

 private:
  BasicStringSlice<CharT> set_;
  std::array<bool, 256> table_{};
};

}  // namespace

template <typename CharT>
typename BasicStringSlice<CharT>::size_type BasicStringSlice<CharT>::FindFirstNotOf(
    BasicStringSlice set) const {
  if (empty())
    return npos;
  if (set.empty())
    return 0;
  const CharSet<CharT> members(set);
  for (size_type i = 0; i < length_; ++i) {
    if (!members.Contains(data_[i]))
      return i;
  }
  return npos;
}

template <typename CharT>
typename BasicStringSlice<CharT>::size_type BasicStringSlice<CharT>::FindLastOf(
    BasicStringSlice set) const {
  if (empty() || set.empty())
    return npos;
  const CharSet<CharT> members(set);
  for (size_type i = length_; i-- > 0;) {
    if (members.Contains(data_[i]))
      return i;
  }
  return npos;
}

template <typename CharT>
typename BasicStringSlice<CharT>::size_type BasicStringSlice<CharT>::FindLastNotOf(
    BasicStringSlice set) const {
  if (empty())
    return npos;
  if (set.empty())
    return length_ - 1;
  const CharSet<CharT> members(set);
  for (size_type i = length_; i-- > 0;) {
    if (!members.Contains(data_[i]))
      return i;
  }
  return npos;
}

template class BasicStringSlice<char>;
template class BasicStringSlice<wchar_t>;

}  // namespace base
