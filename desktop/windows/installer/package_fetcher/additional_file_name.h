#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_NAME_H_

#include <string>

namespace installer {

// Whether the update server's name for an additional file is one plain file
// name that stays in the folder it is placed in: not empty, at most 255
// characters, no path separator, drive or stream colon, wildcard or control
// character, not "." or "..", no trailing dot or blank (which Windows drops,
// turning the name into another), no device name such as "NUL",
// "COM1.txt" or "LPT\u00B2", and none of the package's own file names
// ("files_list", "installer_prefs.json", ... in any case).
bool IsPlainFileName(const std::wstring& name);

// Whether Windows loads or runs a file of this name by its extension
// (".dll", ".exe", ".ps1", ...), ignoring case and the trailing dots and
// blanks that Windows drops from a name.
bool IsExecutableFileName(const std::wstring& name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_NAME_H_
