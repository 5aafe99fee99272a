#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_PATH_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_PATH_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace installer {

// The path of a held file, pinned: the file's final path, every link on
// the way resolved, with every folder of it below the volume's root held
// open, so that while this object lives no folder on the way can be
// renamed, deleted or turned into a link, and the path leads to the held
// file alone. Holding the file keeps it from being written or renamed;
// only its path pinned too makes a start or a load by that path reach it.
// Built from system calls alone: the host executable pins its library's
// path with it too.
class HeldFilePath {
 public:
  HeldFilePath();
  HeldFilePath(HeldFilePath&&) noexcept;
  HeldFilePath& operator=(HeldFilePath&&) noexcept;
  ~HeldFilePath();

  // Pins the path of the file open on `file`, which its holder keeps from
  // being renamed. 0, or why not: the error of reading the file's final
  // path (Wine cannot read one past about 266 characters), of opening a
  // folder on it, ERROR_BAD_PATHNAME for a path that is neither a drive's
  // nor a share's, ERROR_CANT_RESOLVE_FILENAME for a folder that is a link
  // or is not where the path says, ERROR_FILE_INVALID when the file left
  // its path meanwhile. Nothing is pinned after a failure.
  [[nodiscard]] DWORD Pin(HANDLE file);
  // 0 when the pinned path still leads to the file open on `file`, else
  // ERROR_FILE_INVALID or the error of looking. For a holder that cannot
  // prove what it loaded from the path (a library runs as it is mapped):
  // under Wine a Linux process renames a held folder all the same.
  [[nodiscard]] DWORD Verify(HANDLE file) const;
  // Lets the folders go.
  void Release();

  // "C:\..." or "\\server\share\...": what to start or load by; empty
  // until Pin succeeded.
  const std::wstring& path() const { return path_; }

 private:
  struct HandleCloser {
    void operator()(HANDLE handle) const;
  };
  using ScopedFileHandle = std::unique_ptr<void, HandleCloser>;

  // 0 once the folder `folder` is held, a plain folder whose own final path
  // is `folder`.
  [[nodiscard]] DWORD HoldFolder(const std::wstring& folder);

  std::wstring path_;
  std::vector<ScopedFileHandle> folders_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_PATH_H_
