#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_CONTENT_RANGE_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_CONTENT_RANGE_H_

#include <cstdint>
#include <string>

namespace installer {

// Where a partial answer's body lies in the whole, from its Content-Range
// header ("bytes FIRST-LAST/TOTAL", TOTAL may be "*").
struct ContentRange {
  int64_t first = 0;
  int64_t last = 0;
  // -1 when the server does not say.
  int64_t total = -1;
};

// False for anything but one well-formed byte range: a missing header, an
// unsatisfied range ("bytes */TOTAL"), LAST before FIRST, a TOTAL that the
// range does not fit in, signs, blanks inside numbers or overflow.
bool ParseContentRange(const std::wstring& value, ContentRange* range);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_CONTENT_RANGE_H_
