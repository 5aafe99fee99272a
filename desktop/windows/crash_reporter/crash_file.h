#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_FILE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_FILE_H_

#include <windows.h>

#include <string_view>
#include <utility>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

// A crash log or dump being written. The crash folder is the user's
// temporary folder by default, and the reporter may run elevated: the file
// is made new, never through a name that exists or a link, and checked to
// lie in its folder; a taken name gives way to "<name>_2.<ext>" and on.
class CrashFile {
 public:
  // Makes `path` (a relative one in the current folder, which is the
  // reporter's crash folder) with the handle `access` given; invalid, and
  // logged, when no file could be made.
  static CrashFile Create(const base::FilePath& path,
                          DWORD access = FILE_APPEND_DATA);

  CrashFile(CrashFile&& other) noexcept = default;
  CrashFile& operator=(CrashFile&& other) noexcept = default;
  ~CrashFile();

  bool IsValid() const { return file_.IsValid(); }
  HANDLE handle() const { return file_.Get(); }
  // Where the file was made, spelled as the caller's path (relative when it
  // was): that name, or the one it gave way to.
  const base::FilePath& path() const { return path_; }

  // All of `bytes` at the end of the file; false on any short write.
  [[nodiscard]] bool Append(std::string_view bytes);
  // The same with every "\n" written as CR LF, as a text log reads.
  [[nodiscard]] bool AppendText(std::string_view text);
  // The handle, for a writer that keeps it; the file is no longer this
  // object's.
  base::win::ScopedHandle TakeHandle() { return std::move(file_); }
  // Closes the file, written whole.
  void Close() { file_.Close(); }
  // Closes the file and removes it: what was written is of no use.
  void Discard();

 private:
  CrashFile(base::win::ScopedHandle file, base::FilePath path);

  base::win::ScopedHandle file_;
  base::FilePath path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_FILE_H_
