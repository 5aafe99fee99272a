#ifndef BASE_FILES_FILE_ENUMERATOR_H_
#define BASE_FILES_FILE_ENUMERATOR_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string_slice.h"

namespace base {

// Lists a directory, optionally its whole tree, depth first in the order the
// system returns entries (no sorting). Junctions and symbolic links to
// directories are listed but never followed.
class FileEnumerator {
 public:
  enum FileType {
    kFiles = 1,
    kDirectories = 2,
    // Also lists ".."; never combine with recursion.
    kIncludeDotDot = 4,
  };

  // `pattern` (for example "*.tmp") filters the root directory only; deeper
  // directories are listed in full. Empty means every entry.
  FileEnumerator(const FilePath& root,
                 bool recursive,
                 int file_types,
                 WideStringSlice pattern);
  // Recursive, without a pattern.
  FileEnumerator(const FilePath& root, int file_types);
  FileEnumerator(const FileEnumerator&) = delete;
  FileEnumerator& operator=(const FileEnumerator&) = delete;
  ~FileEnumerator();

  // The next entry, or the empty path when the listing is over.
  FilePath Next();

  // The record of the entry last returned; all zero when no directory is
  // being listed.
  WIN32_FIND_DATAW GetInfo() const;

  // The Windows error that ended the listing early, or ERROR_SUCCESS when
  // every directory was listed to its end. A caller that must see the whole
  // tree (a copy, a delete) checks it once Next() returns the empty path.
  DWORD error() const { return error_; }

 private:
  // Owns a find handle, which FindClose (not CloseHandle) must release.
  class ScopedFindHandle {
   public:
    ScopedFindHandle() = default;
    ScopedFindHandle(const ScopedFindHandle&) = delete;
    ScopedFindHandle& operator=(const ScopedFindHandle&) = delete;
    ~ScopedFindHandle() { Close(); }

    bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    void Set(HANDLE handle);
    void Close();

   private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
  };

  // Opens the next pending directory; false when its listing yields nothing.
  bool OpenNextDirectory();
  // Whether the current record is an entry to hand out; queues directories
  // to descend into.
  bool AcceptCurrentEntry(FilePath* path);

  bool has_find_data_ = false;
  WIN32_FIND_DATAW find_data_ = {};
  ScopedFindHandle find_handle_;
  FilePath root_;
  bool recursive_;
  int file_types_;
  std::wstring pattern_;
  std::vector<FilePath> pending_;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace base

#endif  // BASE_FILES_FILE_ENUMERATOR_H_
