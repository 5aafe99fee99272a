#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_EXECUTABLE_DIRECTORY_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_EXECUTABLE_DIRECTORY_H_

#include <cstddef>
#include <string>

namespace base {
class CommandLine;
class FilePath;
}  // namespace base

namespace installer {

// Finds a folder named `folder_name` into which the installer may download
// and from which `executable` runs: under the temporary folder, the user's
// Downloads folder, the home folder and the executable's folder, in this
// order. With an empty `executable` the first folder that can be created
// wins. A folder below which paths of `room_below` more characters would
// not fit in MAX_PATH is passed over. The out folder is written only on
// success.
bool FindExecutableDirectory(const std::wstring& folder_name,
                             const base::FilePath& executable,
                             size_t room_below,
                             base::FilePath* folder);

// The probe under the path service's folder for `path_key`.
bool TryPathKeyDirectory(const std::wstring& folder_name,
                         const base::FilePath& executable,
                         size_t room_below,
                         base::FilePath* folder,
                         int path_key);

// The probe under the shell's Downloads known folder.
bool TryDownloadsDirectory(const std::wstring& folder_name,
                           const base::FilePath& executable,
                           size_t room_below,
                           base::FilePath* folder);

// Creates `folder`\`folder_name` when missing and, unless `executable` is
// empty, checks that a copy of it runs there; a folder where it does not is
// removed again when empty. A folder too long for `room_below` more
// characters below it is neither created nor tried. On success `folder`
// becomes the created folder.
bool TryExecutableDirectory(const std::wstring& folder_name,
                            const base::FilePath& executable,
                            size_t room_below,
                            base::FilePath* folder);

// Whether paths up to `room_below` characters longer than `folder` stay
// below MAX_PATH, which Windows asks of programs it starts and libraries it
// loads, and the file functions of the base library of every path. When
// not, logs the folder's length and the limit as a warning.
bool LeavesRoomBelow(const base::FilePath& folder, size_t room_below);

// Copies `executable` into `folder`, starts the copy with "--version", waits
// for it to end and deletes the copy. True when the copy could be started.
bool TestRunExecutable(const base::FilePath& folder,
                       const base::FilePath& executable);

namespace internal {

// Starts `command_line` and waits for it to end; true when it started.
using RunAndWaitFunction = bool (*)(const base::CommandLine& command_line);

// Tests only: replaces the launch of the probe's copy (null restores the
// real one) and returns the previous replacement.
RunAndWaitFunction SetRunAndWaitForTesting(RunAndWaitFunction run_and_wait);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_EXECUTABLE_DIRECTORY_H_
