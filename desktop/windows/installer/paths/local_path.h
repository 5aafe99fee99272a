#ifndef DESKTOP_WINDOWS_INSTALLER_PATHS_LOCAL_PATH_H_
#define DESKTOP_WINDOWS_INSTALLER_PATHS_LOCAL_PATH_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

// One spelling for each file of a local drive, for paths that come from
// outside the process (a journal read back, a folder given on the command
// line): "X:\a\b" with single backslashes, the parts that exist in their
// long form ("PROGRA~1" and "\\?\C:\x" give what "C:\x" gives), no
// trailing separator. Empty for anything that is not plainly a path of a
// local drive: relative, UNC or device paths, wildcards, streams, device
// names, components of dots, names Windows would trim.
base::FilePath ResolveLocalPath(const base::FilePath& path);

// ResolveLocalPath, with the part that exists taken where it resolves to,
// every link and junction on the way followed: what an action by that name
// would reach. Empty also when that lies on no local drive.
base::FilePath ResolveFinalLocalPath(const base::FilePath& path);

// Whether `name` can be one component of such a path.
bool IsPlainComponent(const std::wstring& name);

// The file system's case-insensitive comparison upper-cases unit by unit
// with the system's table; the invariant locale without linguistic casing
// gives the same mapping.
std::wstring ToUpperOrdinal(const std::wstring& text);

// Whether `path` (resolved) lies below `folder` (resolved), component by
// component: "C:\inst2" is not below "C:\inst".
bool IsBelowFolder(const base::FilePath& path, const base::FilePath& folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PATHS_LOCAL_PATH_H_
