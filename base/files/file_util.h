#ifndef BASE_FILES_FILE_UTIL_H_
#define BASE_FILES_FILE_UTIL_H_

// <windows.h> first and always: it renames GetCurrentDirectory,
// CreateDirectory and ReplaceFile to their wide forms, and every user of
// these functions must see the same names.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/files/file.h"
#include "base/files/file_error.h"
#include "base/files/file_path.h"
#include "base/strings/string_slice.h"
#include "base/win/scoped_handle.h"

// Free functions that test, create, copy, move, delete, read and write files
// and directory trees. They call the Windows file API directly and block.
// Most refuse paths of MAX_PATH (260) characters or more rather than use
// long-path prefixes, and those that copy or move refuse ".." components.
// Failure is reported by the result only (false, -1, an empty path); the
// thread's last error is left as Windows set it.

namespace base {

struct ScopedFileCloser {
  void operator()(FILE* file) const;
};
using ScopedFILE = std::unique_ptr<FILE, ScopedFileCloser>;

// Tests and queries.
bool PathExists(const FilePath& path);
bool DirectoryExists(const FilePath& path);
// Whether the file or directory can be opened for writing data.
bool IsPathWritable(const FilePath& path);
bool GetFileInfo(const FilePath& path, File::Info* info);
bool GetFileSize(const FilePath& path, int64_t* size);
// Resolves "." and ".." textually; links are not followed and the path need
// not exist. Empty on failure.
FilePath MakeAbsoluteFilePath(const FilePath& path);
bool GetCurrentDirectory(FilePath* path);
bool GetTempDir(FilePath* path);
// The user's profile folder, else the temporary folder, else "C:\".
FilePath GetHomeDir();

// Creating. `error` may be null. An existing directory counts as created.
bool CreateDirectoryAndGetError(const FilePath& path, FileError* error);
bool CreateDirectory(const FilePath& path);
// Creates a new, uniquely named empty file in `dir`.
bool CreateTemporaryFileInDir(const FilePath& dir, FilePath* path);
bool CreateTemporaryFile(FilePath* path);

// Copying, moving, deleting.
// Overwrites `to`; the copy is never left read-only. A copy that failed
// without an error code while the target's volume has less free space than
// the source's size fails with ERROR_DISK_FULL.
bool CopyFileChecked(const FilePath& from, const FilePath& to);
// Copies the bytes and times of the file open on `from` (with GENERIC_READ)
// into the new empty file open on `to` (with GENERIC_WRITE), as
// CopyFileChecked would make it: its attributes too, but for the read-only
// one. False with the Windows error.
bool CopyFileIntoHandle(HANDLE from, HANDLE to);
// Copies the tree at `from`. When `to` is an existing directory the tree is
// copied into it (as to\<name of from>), else it becomes `to`. A copy that
// fails part way leaves what was copied.
bool CopyDirectory(const FilePath& from, const FilePath& to);
// Renames, replacing an existing file; a directory that cannot be renamed
// (another volume) is copied and then deleted. On failure the last error is
// that of the rename.
bool MovePath(const FilePath& from, const FilePath& to);
// MovePath without the ".." check.
bool MovePathUnchecked(const FilePath& from, const FilePath& to);
// Puts `from` in the place of `to`, which may exist.
bool ReplaceFile(const FilePath& from, const FilePath& to);
// The index of the file `file` holds on its volume (its id, without the
// volume's serial number); empty when it cannot be read.
std::optional<uint64_t> ReadFileIndex(HANDLE file);
// Renames the very file or folder `file` holds (opened with DELETE) to `to`,
// which must not exist: no name is looked up again, so nothing put at the
// old name meanwhile is moved instead. `to` may be a "\\?\" or share path.
bool RenameHeldFile(HANDLE file, const FilePath& to);
// Renames the very file or folder `file` holds (opened with DELETE) to the
// single `name` in the folder open on `folder`: the target is named
// relative to that handle, so no link on any path, swapped in meanwhile,
// leads it elsewhere. (Windows renames a bare name within the file's own
// folder; Wine renames it into the process's current folder, so the folder
// is always given.) The name must be free, or with `replace` hold a file,
// whose entry alone is replaced, never what a link there leads to. False
// with the Windows error.
bool RenameIntoFolder(HANDLE file,
                      HANDLE folder,
                      std::wstring_view name,
                      bool replace = false);
// The folder whose final path is `final_path` ("X:\..." as a handle's final
// path reads), opened as itself for listing and traversal and shared with
// readers and writers, not with a rename or deletion: invalid, with
// ERROR_CANT_RESOLVE_FILENAME, when the name is a link or leads elsewhere
// (Wine follows a link whatever the flags say: the handle's own final path
// tells).
win::ScopedHandle OpenFolderAtFinalPath(const FilePath& final_path);
// Deletes a file or directory; a missing path counts as deleted. A base name
// with '*' or '?' deletes the matching entries of its directory. Read-only
// entries are deleted too. Junctions and directory links are removed
// themselves, never what they lead to.
bool DeletePath(const FilePath& path, bool recursive);
// DeletePath tried `tries` times in all, for what another process still
// holds: one that has just ended lets go of its files a moment later, most
// often within milliseconds. The pauses grow to `pause_ms`
// (PauseAfterDeleteTry).
bool DeletePathOnceReleased(const FilePath& path,
                            bool recursive,
                            int tries,
                            DWORD pause_ms);
// The pause after DeletePathOnceReleased's `tried`-th try: an eighth of
// `pause_ms` (at least 1 ms) at first, doubled after each try, at most
// `pause_ms`.
DWORD PauseAfterDeleteTry(int tried, DWORD pause_ms);
// Deletes the entries of `dir` that match `pattern`; with `recursive`,
// matching directories are emptied of matching entries and removed.
bool DeleteMatchingEntries(const FilePath& dir,
                           WideStringSlice pattern,
                           bool recursive);

// Reading and writing.
// One read of up to `max_size` bytes: the count read, or -1.
int ReadFileToBuffer(const FilePath& path, char* data, int max_size);
// Creates or replaces the file: `size`, or -1 (also for a partial write,
// which fails with ERROR_DISK_FULL when the volume lacks room for the rest
// and the system gave no error).
int WriteBufferToFile(const FilePath& path, const char* data, int size);
// The file must exist.
bool AppendToFile(const FilePath& path, const char* data, int size);
// A binary stream that child processes do not inherit and that lets others
// read, write and delete the file meanwhile. Null on failure.
ScopedFILE OpenFileForReading(const FilePath& path);
// False when the file holds more than `max_size` bytes; `contents` (may be
// null) then holds the first `max_size` of them.
bool ReadFileToStringWithMaxSize(const FilePath& path,
                                 std::string* contents,
                                 size_t max_size);
bool ReadFileToString(const FilePath& path, std::string* contents);

}  // namespace base

#endif  // BASE_FILES_FILE_UTIL_H_
