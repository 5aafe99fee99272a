#ifndef BASE_FILES_FILE_PATH_H_
#define BASE_FILES_FILE_PATH_H_

#include <string>
#include <vector>

#include "base/strings/string_slice.h"

namespace base {

// A file or directory name held as one UTF-16 string. Pure string work: no
// operation touches the file system. Backslash and slash both separate
// components; a backslash is what gets inserted. Text from outside is cut at
// its first NUL, so a path never holds one.
class FilePath {
 public:
  using StringType = std::wstring;

  static constexpr wchar_t kSeparators[] = L"\\/";
  static constexpr wchar_t kPreferredSeparator = L'\\';
  static constexpr wchar_t kExtensionSeparator = L'.';
  static constexpr wchar_t kCurrentDirectory[] = L".";
  static constexpr wchar_t kParentDirectory[] = L"..";

  FilePath();
  explicit FilePath(const std::wstring& path);
  explicit FilePath(WideStringSlice path);
  explicit FilePath(const wchar_t* path);
  FilePath(const FilePath& other);
  FilePath& operator=(const FilePath& other);
  FilePath(FilePath&& other) noexcept;
  FilePath& operator=(FilePath&& other) noexcept;
  ~FilePath();

  static FilePath FromUTF16(WideStringSlice path);
  static FilePath FromUTF8(StringSlice path);
  static bool IsSeparator(wchar_t unit);

  const std::wstring& value() const { return path_; }
  bool empty() const { return path_.empty(); }
  std::string AsUTF8() const;
  // Empty when any unit is not ASCII.
  std::string AsASCIIOrEmpty() const;

  FilePath DirName() const;
  FilePath BaseName() const;

  // The extension of the base name with its leading '.'; "a.tar.gz" and
  // "prefs.user.js" count their double extension as one.
  std::wstring GetExtension() const;
  FilePath RemoveExtension() const;
  FilePath AddExtension(WideStringSlice extension) const;
  FilePath ReplaceExtension(WideStringSlice extension) const;
  FilePath ReplaceExtensionASCII(StringSlice extension) const;
  FilePath InsertBeforeExtension(WideStringSlice suffix) const;
  FilePath InsertBeforeExtensionASCII(StringSlice suffix) const;

  // Joins a relative component with one backslash. Whether the component is
  // absolute is not checked.
  FilePath Append(WideStringSlice component) const;
  FilePath Append(const std::wstring& component) const;
  FilePath Append(const wchar_t* component) const;
  FilePath AppendASCII(StringSlice component) const;

  bool IsAbsolute() const;
  FilePath StripTrailingSeparators() const;
  FilePath NormalizePathSeparators() const;
  FilePath NormalizePathSeparatorsTo(wchar_t separator) const;

  // Root first: "C:\a\b" gives "C:", "\", "a", "b".
  void GetComponents(std::vector<std::wstring>* components) const;
  bool IsParent(const FilePath& child) const;
  // When this is a parent of `child`, appends the rest of `child` to `*path`
  // (when given) and returns true.
  bool AppendRelativePath(const FilePath& child, FilePath* path) const;
  // True when some component is made of dots and blanks and holds "..".
  bool ReferencesParent() const;

  // Drive letters compare case-insensitively, the rest exactly.
  bool operator==(const FilePath& other) const;
  bool operator!=(const FilePath& other) const;
  // -1, 0 or 1, comparing units upper-cased the way Windows does.
  static int CompareIgnoreCase(const FilePath& a, const FilePath& b);

 private:
  void StripTrailingSeparatorsInternal();

  std::wstring path_;
};

// "C:\x", "C:/", "\\server" and "//x" are absolute; "\x", "C:x", "C:" are not.
bool IsPathAbsolute(WideStringSlice path);

}  // namespace base

#endif  // BASE_FILES_FILE_PATH_H_
