#ifndef DESKTOP_WINDOWS_INSTALLER_PATHS_ARCHIVE_ENTRY_PATH_H_
#define DESKTOP_WINDOWS_INSTALLER_PATHS_ARCHIVE_ENTRY_PATH_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace installer {

// The name of an archive entry as a path relative to the folder it is
// unpacked into, with '/' turned into '\'. Nothing for a name that would
// leave that folder or name something else than a file in it: a root or
// UNC path, a drive, any ':' (which also names alternate data streams), a
// component of dots (and spaces) only such as "..", or a device name such
// as "CON" or "LPT1.txt". The name must not be empty.
std::optional<std::wstring> GetArchiveEntryRelativePath(std::wstring_view name);

// The path Windows makes of a relative entry path as the function above
// gives it: each component without the trailing dots and spaces that
// Windows drops, empty components left out. Two entries name one file when
// their forms are equal ignoring case as the file system compares names
// (base::FilePath::CompareIgnoreCase).
std::wstring GetWindowsPathForm(std::wstring_view relative_path);

struct ArchiveEntryName {
  // As GetArchiveEntryRelativePath gives it.
  std::wstring path;
  bool is_folder = false;
};

// The first two entries (their indices, in order) that Windows would make
// into one file, or whose file lies where the other needs a folder.
// Nothing when every file has a path of its own; folders may repeat.
std::optional<std::pair<size_t, size_t>> FindEntryPathCollision(
    const std::vector<ArchiveEntryName>& entries);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PATHS_ARCHIVE_ENTRY_PATH_H_
