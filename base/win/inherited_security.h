#ifndef BASE_WIN_INHERITED_SECURITY_H_
#define BASE_WIN_INHERITED_SECURITY_H_

#include <windows.h>

#include <vector>

namespace base::win {

// The owner, group and default list this process's token gives what it
// makes, as a self-relative descriptor; empty with the error set.
std::vector<unsigned char> ReadCreatorSecurity();

// The owner and access list a file (or, with `folder`, a folder) made new
// in a folder whose self-relative descriptor is `parent` gets on Windows,
// by `creator` (as ReadCreatorSecurity gives it): the creator's owner; the
// entries the folder passes on to that kind, marked inherited, their
// generic rights mapped and a creator owner or group replaced by the
// creator's own, with the part that passes further on kept apart where it
// differs; the creator's default list where it passes none on. Worked out
// here rather than read from a file made there: nothing is made in a
// folder someone else may change, and Wine passes no entry on. Applied to
// its own result it gives the next level down. Self-relative; empty with
// the error set.
std::vector<unsigned char> InheritedSecurity(
    const std::vector<unsigned char>& parent,
    bool folder,
    const std::vector<unsigned char>& creator);

}  // namespace base::win

#endif  // BASE_WIN_INHERITED_SECURITY_H_
