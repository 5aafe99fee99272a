#ifndef DESKTOP_WINDOWS_INSTALLER_PATHS_HOST_NAME_FOLDING_H_
#define DESKTOP_WINDOWS_INSTALLER_PATHS_HOST_NAME_FOLDING_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace installer {

// The spellings a name resolver may read the host name `name` as, upper
// case: the name itself and, for a name outside ASCII, its compatibility
// form (full-width letters, digits and dots as ASCII ones), its
// international form (case folded, ideographic full stops as dots,
// invisible characters dropped, the rest encoded) and its form in the OEM
// code page, in which NetBIOS names travel, with the system's best-fit
// mapping (a full-width "localhost", and "l" with an accent, as
// "LOCALHOST"). None when the first two cannot be made: such a name is no
// name to judge.
std::optional<std::vector<std::wstring>> FoldHostName(std::wstring_view name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PATHS_HOST_NAME_FOLDING_H_
