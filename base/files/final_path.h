#ifndef BASE_FILES_FINAL_PATH_H_
#define BASE_FILES_FINAL_PATH_H_

#include <windows.h>

#include <string>
#include <string_view>

namespace base {

// Where the file or folder open on `handle` really is, every link on the way
// resolved: "C:\..." or "\\server\share\...", without the "\\?\" prefix;
// empty when it cannot be told. `opened_as` is the name the handle was
// opened by: where the whole path cannot be read (Wine fails past about 266
// characters with ERROR_MORE_DATA), the path inside the volume is taken
// instead and put below the root of `opened_as`, only when the handle lies
// on that very volume.
std::wstring GetFinalPath(HANDLE handle, std::wstring_view opened_as);

// `path` without its "\\?\" or "\\?\UNC\" prefix, as a user spells it.
std::wstring WithoutLongPrefix(std::wstring_view path);

}  // namespace base

#endif  // BASE_FILES_FINAL_PATH_H_
