#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SUBJECT_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SUBJECT_NAME_H_

#include <cstdint>
#include <span>
#include <string>

namespace installer {

// The common name of a certificate's subject, read from the name's own DER
// (which the walk has found well formed) and from nothing else: a signer
// is named before it is proven, and the platform's name readers fall back
// into the alternative names, where some shapes (a directory name, an
// address) fault under Wine and a registered id is read as text past its
// end. Pure: no system calls.
class SubjectName {
 public:
  // The first common name of `encoded_name` (a DER Name), as text; empty
  // when it has none, or one that is not text of a string type the
  // standard names (UTF-8, printable, IA5, visible, teletex, BMP or
  // universal), holds a NUL, or is longer than kMaxCommonNameLength.
  static std::wstring CommonName(std::span<const uint8_t> encoded_name);

  // Far beyond the 64 characters the standard gives a common name, but
  // bounded: the name goes into reports and logs.
  static constexpr size_t kMaxCommonNameLength = 1024;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SUBJECT_NAME_H_
