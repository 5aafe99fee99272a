#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_NAME_H_

#include <string>

namespace installer {

// Whether the update server's name for an additional file is one plain file
// name that stays in the folder it is placed in: not empty, at most 255
// characters, no path separator, drive or stream colon, wildcard or control
// character, not "." or "..", no trailing dot or blank (which Windows drops,
// turning the name into another), and no device name such as "NUL" or
// "COM1.txt".
bool IsPlainFileName(const std::wstring& name);

// Whether Windows loads or runs a file of this name by its extension
// (".dll", ".exe", ".ps1", ...), ignoring case and the trailing dots and
// blanks that Windows drops from a name.
bool IsExecutableFileName(const std::wstring& name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_NAME_H_
