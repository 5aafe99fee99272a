#ifndef DESKTOP_WINDOWS_INSTALLER_PATHS_LOCAL_PATH_H_
#define DESKTOP_WINDOWS_INSTALLER_PATHS_LOCAL_PATH_H_

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

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

// Whether an action by the name `resolved` (ResolveLocalPath's spelling)
// would reach another place than the name says: a link or junction on the
// way, or the name itself one. A name that does not exist yet is judged by
// the part of it that does.
bool IsReachedThroughLink(const base::FilePath& resolved);

// The folder `resolved` (ResolveLocalPath's spelling) opened as itself
// with `access`, shared with readers and writers but not with a rename or
// a deletion, so that the name keeps leading to it while held: only when
// it is a folder that no link leads to. Invalid, with the reason logged,
// otherwise.
base::win::ScopedHandle OpenFolderReachedWithoutLinks(
    const base::FilePath& resolved,
    DWORD access);

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
