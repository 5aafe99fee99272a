#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_ENTRY_PATH_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_ENTRY_PATH_H_

#include <optional>
#include <string>
#include <string_view>

namespace installer {

// The name of an archive entry as a path relative to the folder it is
// unpacked into, with '/' turned into '\'. Nothing for a name that would
// leave that folder or name something else than a file in it: a root or
// UNC path, a drive, any ':' (which also names alternate data streams), a
// component of dots (and spaces) only such as "..", or a device name such
// as "CON" or "LPT1.txt". The name must not be empty.
std::optional<std::wstring> GetArchiveEntryRelativePath(std::wstring_view name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_ENTRY_PATH_H_
