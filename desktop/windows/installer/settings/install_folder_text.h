#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_INSTALL_FOLDER_TEXT_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_INSTALL_FOLDER_TEXT_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

// An installation folder as stored by this or an earlier installer, in one
// spelling: without trailing separators, except that a drive root keeps its
// one ("C:\", "C:\\" and "C:/" give "C:\"). The stored value ends with a
// separator, and a folder read back with it would gain one more with every
// run in what is built from it ("...\\launcher.exe"). Anything else is
// left as it is, for the caller's own checks.
base::FilePath InstallFolderFromStoredText(const std::wstring& text);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_INSTALL_FOLDER_TEXT_H_
