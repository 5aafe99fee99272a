#ifndef BASE_FILES_NEW_FILE_IN_FOLDER_H_
#define BASE_FILES_NEW_FILE_IN_FOLDER_H_

#include <windows.h>

#include <string>
#include <string_view>

#include "base/win/scoped_handle.h"

namespace base {

// A file made new, for appending (or with the access asked for), in a folder that a less trusted process
// may write (a temporary folder that an elevated process shares with the
// user): it is never opened through a name that already exists, never
// through a link (a planted one would send the writes elsewhere), and what
// was opened is checked to lie in the folder. On a drive the folder is held
// from the root down (HeldFolder) while the file is made or opened relative
// to it, so that no folder on the way can be swapped for a link or another
// folder between the check and the create. A taken name gives way to the
// next of a few suffixed ones.
class NewFileInFolder {
 public:
  // The name given, then "<stem>_2<extension>" up to this number.
  static constexpr int kNameTries = 10;

  struct Result {
    win::ScopedHandle file;
    // The file's path when it was made; else the first name tried.
    std::wstring path;
    // Which name was made (see NameOfTry); 0 when none was.
    int try_number = 0;
    // Why no file was made; ERROR_SUCCESS when one was.
    DWORD error = ERROR_SUCCESS;
  };

  // What becomes of a file left under a name by an earlier process.
  enum class OldFile {
    kKeep,  // the name is taken
    // Deleted first (a link as the link: the last name is never followed);
    // one that stays (still in use, a folder) takes the name.
    kDelete,
  };

  // Makes `path` (made absolute against the current folder) or the first
  // free of its suffixed names. Fails without making anything when the
  // folder is missing or reached through a link (any folder on its path),
  // when every name is taken, or when what was made lies elsewhere (then
  // the handle is closed unwritten).
  // `access` is the file handle's: appending by default; a file written at
  // offsets (a dump, an archive) asks for GENERIC_WRITE, and GENERIC_READ
  // to read it back. `name_tries` counts the names tried: 1 makes `path`
  // itself or nothing, for a caller that told its name to someone before.
  [[nodiscard]] static Result Create(std::wstring_view path,
                                     OldFile old_file = OldFile::kKeep,
                                     DWORD access = FILE_APPEND_DATA,
                                     int name_tries = kNameTries);

  // Opens for reading a file such a folder holds, as made there earlier
  // (by Create), without following a link: refused (invalid, the Windows
  // error set) when `path` now names a link, a file elsewhere, a folder, a
  // device or pipe, or a file with a second name (a hard link to another
  // one).
  [[nodiscard]] static win::ScopedHandle OpenToRead(std::wstring_view path);

  // Reads such a file whole (opened as OpenToRead does) into `contents`:
  // false, `contents` empty, when it is refused, missing, unreadable or
  // longer than `max_size` bytes.
  [[nodiscard]] static bool ReadToString(std::wstring_view path,
                                         size_t max_size,
                                         std::string* contents);

  // The name of the `try_number`th try (1 is `path` itself): the suffix
  // goes before the extension of the file name.
  static std::wstring NameOfTry(std::wstring_view path, int try_number);

  // Called with the folder (as Create spells it) once it is held, before
  // the file is made: a test swaps folders there. Returns the one before.
  using FolderHeldHook = void (*)(const std::wstring& folder);
  static FolderHeldHook SetFolderHeldHookForTesting(FolderHeldHook hook);

  // Whether `final_path` (as GetFinalPath gives it, or with the "\\?\"
  // prefix) names the same place as `path`, letter case aside.
  static bool IsSamePlace(std::wstring_view final_path, std::wstring_view path);
};

}  // namespace base

#endif  // BASE_FILES_NEW_FILE_IN_FOLDER_H_
