#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_PATH_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_PATH_H_

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace installer {

// The path of a held file, pinned: the file's final path, every link on
// the way resolved, with every folder of it below the volume's root held
// open, so that while this object lives no folder on the way can be
// renamed, deleted or turned into a link, and the path leads to the held
// file alone. The path is handed on as a user spells it, which the
// system's path rules read: a name they would rewrite is refused, and the
// path is shown to open the held file itself, at the pin and before use. Holding the file keeps it from being written or renamed;
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
  // nor a share's, ERROR_INVALID_NAME for a name that the system's path
  // rules would rewrite once the path is used (HasNameKeptAsIs),
  // ERROR_CANT_RESOLVE_FILENAME for a folder that is a link or is not where
  // the path says, ERROR_FILE_INVALID when the path opens another file
  // than `file` (under Wine a folder whose name ends in a dot is named
  // without it, its sibling's name) or the file left its path meanwhile.
  // Nothing is pinned after a failure.
  [[nodiscard]] DWORD Pin(HANDLE file);
  // 0 when the pinned path still leads to the file open on `file`, proven
  // by the identity of the file that the path opens, else
  // ERROR_FILE_INVALID or the error of looking. Made just before the path
  // is handed on, and after a use that cannot prove what it read: under
  // Wine a Linux process renames a held folder all the same.
  [[nodiscard]] DWORD Verify(HANDLE file) const;
  // 0 when the image of the running `process` was mapped from the file open
  // on `file`: the name the system keeps for the image (which needs no more
  // than PROCESS_QUERY_LIMITED_INFORMATION, all an unelevated process gets
  // of an elevated one) opened as it is spelled, and the identity of what
  // it opens. ERROR_FILE_INVALID for another file, else the error of
  // looking.
  [[nodiscard]] static DWORD VerifyProcessImage(HANDLE process, HANDLE file);
  // `path`, a full path as the system names a file ("C:\...",
  // "\\server\..."), in the form that opens it by that very name
  // ("\\?\C:\..."), which no path rule rewrites; empty for another
  // form.
  static std::wstring AsSpelled(std::wstring_view path);
  // Whether `name`, one component of a path, is taken as it is spelled
  // when a path is handed on: a component that ends in a dot or a space
  // (which the system drops: "x.\f" opens "x\f"), that holds a character
  // a path reads otherwise ('/', ':', wildcards) or that names a device
  // ("NUL", "COM1.txt") is not.
  static bool HasNameKeptAsIs(std::wstring_view name);
  // Whether a Pin error says the path cannot be made to lead to the held
  // file from its folder (a name rewritten, another file at the path): the
  // file must be moved to another folder to be used.
  static bool IsFolderRefusal(DWORD pin_error);

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

  // 0 when `path` opens the file open on `file`; ERROR_FILE_INVALID when it
  // opens another file or none, else the error of opening it.
  [[nodiscard]] static DWORD OpensFile(const std::wstring& path, HANDLE file);
  // 0 once the folder `folder` is held, a plain folder whose own final path
  // is `folder`.
  [[nodiscard]] DWORD HoldFolder(const std::wstring& folder);

  std::wstring path_;
  std::vector<ScopedFileHandle> folders_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_PATH_H_
