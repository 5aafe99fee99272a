#include "base/files/file_path.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

constexpr size_t npos = std::wstring::npos;

// Suffixes that, after a short middle part, make one extension with it:
// "a.tar.gz" has the extension ".tar.gz".
constexpr const wchar_t* kCommonDoubleExtensionSuffixes[] = {L"gz", L"z",
                                                             L"bz2", L"bz"};
constexpr const wchar_t* kCommonDoubleExtensions[] = {L"user.js"};

std::wstring CutAtNul(WideStringSlice text) {
  const wchar_t* end = std::find(text.begin(), text.end(), L'\0');
  return std::wstring(text.begin(), end);
}

bool IsAsciiLetter(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z');
}

wchar_t FoldAscii(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') ? unit + (L'a' - L'A') : unit;
}

// Index of the ':' of a leading drive letter ("C:"), or npos. Adding 1 to the
// result gives the drive part's length in both cases (npos + 1 == 0).
size_t FindDriveLetter(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':' && IsAsciiLetter(path[0]))
    return 1;
  return npos;
}

bool EqualsIgnoringAsciiCase(WideStringSlice a, WideStringSlice b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i]))
      return false;
  }
  return true;
}

bool PathStringsEqualIgnoringDriveCase(const std::wstring& a,
                                       const std::wstring& b) {
  if (FindDriveLetter(a) == npos || FindDriveLetter(b) == npos)
    return a == b;
  return a.size() == b.size() && FoldAscii(a[0]) == FoldAscii(b[0]) &&
         a.compare(1, npos, b, 1, npos) == 0;
}

bool IsEmptyOrSpecialCase(const std::wstring& base_name) {
  return base_name.empty() || base_name == FilePath::kCurrentDirectory ||
         base_name == FilePath::kParentDirectory;
}

bool AreAllSeparators(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(), FilePath::IsSeparator);
}

size_t ExtensionSeparatorPosition(const std::wstring& path) {
  if (path == FilePath::kCurrentDirectory || path == FilePath::kParentDirectory)
    return npos;
  const size_t last_dot = path.rfind(FilePath::kExtensionSeparator);
  if (last_dot == npos || last_dot == 0)
    return last_dot;

  const size_t previous_dot =
      path.rfind(FilePath::kExtensionSeparator, last_dot - 1);
  const size_t last_separator =
      path.find_last_of(FilePath::kSeparators, last_dot - 1);
  if (previous_dot == npos ||
      (last_separator != npos && last_separator > previous_dot)) {
    return last_dot;
  }

  const WideStringSlice all(path);
  for (const wchar_t* extension : kCommonDoubleExtensions) {
    if (EqualsIgnoringAsciiCase(all.Substr(previous_dot + 1), extension))
      return previous_dot;
  }
  const WideStringSlice last_extension = all.Substr(last_dot + 1);
  for (const wchar_t* suffix : kCommonDoubleExtensionSuffixes) {
    if (EqualsIgnoringAsciiCase(last_extension, suffix) &&
        last_dot - previous_dot >= 2 && last_dot - previous_dot <= 5) {
      return previous_dot;
    }
  }
  return last_dot;
}

int CompareFoldingAsciiOnly(const std::wstring& a, const std::wstring& b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const wchar_t x = FoldAscii(a[i]);
    const wchar_t y = FoldAscii(b[i]);
    if (x != y)
      return x < y ? -1 : 1;
  }
  if (a.size() == b.size())
    return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

FilePath::FilePath() = default;
FilePath::FilePath(const std::wstring& path) : path_(CutAtNul(path)) {}
FilePath::FilePath(WideStringSlice path) : path_(CutAtNul(path)) {}
FilePath::FilePath(const wchar_t* path) : path_(path ? path : L"") {}
FilePath::FilePath(const FilePath& other) = default;
FilePath& FilePath::operator=(const FilePath& other) = default;
FilePath::FilePath(FilePath&& other) noexcept = default;
FilePath& FilePath::operator=(FilePath&& other) noexcept = default;
FilePath::~FilePath() = default;

// static
FilePath FilePath::FromUTF16(WideStringSlice path) {
  return FilePath(path);
}

// static
FilePath FilePath::FromUTF8(StringSlice path) {
  return FilePath(Utf8ToWide(path));
}

// static
bool FilePath::IsSeparator(wchar_t unit) {
  return unit == L'\\' || unit == L'/';
}

std::string FilePath::AsUTF8() const {
  return WideToUtf8(path_);
}

std::string FilePath::AsASCIIOrEmpty() const {
  return IsStringAscii(path_) ? WideToAscii(path_) : std::string();
}

FilePath FilePath::DirName() const {
  FilePath dir(*this);
  dir.StripTrailingSeparatorsInternal();
  std::wstring& text = dir.path_;
  const size_t letter = FindDriveLetter(text);
  const size_t last_separator = text.find_last_of(kSeparators);
  if (last_separator == npos) {
    text.resize(letter + 1);  // the drive part, or nothing
  } else if (last_separator == letter + 1) {
    text.resize(letter + 2);  // the root: "C:\" or "\"
  } else if (last_separator == letter + 2 && IsSeparator(text[letter + 1])) {
    text.resize(letter + 3);  // a leading pair: "\\server" gives "\\"
  } else {
    text.resize(last_separator);
  }
  dir.StripTrailingSeparatorsInternal();
  if (text.empty())
    text = kCurrentDirectory;
  return dir;
}

FilePath FilePath::BaseName() const {
  FilePath base(*this);
  base.StripTrailingSeparatorsInternal();
  std::wstring& text = base.path_;
  const size_t letter = FindDriveLetter(text);
  if (letter != npos)
    text.erase(0, letter + 1);
  const size_t last_separator = text.find_last_of(kSeparators);
  if (last_separator != npos && last_separator < text.size() - 1)
    text.erase(0, last_separator + 1);
  return base;
}

std::wstring FilePath::GetExtension() const {
  const std::wstring base = BaseName().path_;
  const size_t dot = ExtensionSeparatorPosition(base);
  return dot == npos ? std::wstring() : base.substr(dot);
}

FilePath FilePath::RemoveExtension() const {
  if (GetExtension().empty())
    return *this;
  const size_t dot = ExtensionSeparatorPosition(path_);
  return dot == npos ? *this : FilePath(path_.substr(0, dot));
}

FilePath FilePath::AddExtension(WideStringSlice extension) const {
  if (IsEmptyOrSpecialCase(BaseName().path_))
    return FilePath();
  const std::wstring added = CutAtNul(extension);
  if (added.empty() || added == kCurrentDirectory)
    return *this;
  std::wstring text = path_;
  if (added[0] != kExtensionSeparator && !text.empty() &&
      text.back() != kExtensionSeparator) {
    text += kExtensionSeparator;
  }
  text += added;
  return FilePath(text);
}

FilePath FilePath::ReplaceExtension(WideStringSlice extension) const {
  if (IsEmptyOrSpecialCase(BaseName().path_))
    return FilePath();
  const std::wstring replacement = CutAtNul(extension);
  FilePath stripped = RemoveExtension();
  if (replacement.empty() || replacement == kCurrentDirectory)
    return stripped;
  if (replacement[0] != kExtensionSeparator)
    stripped.path_ += kExtensionSeparator;
  stripped.path_ += replacement;
  return stripped;
}

FilePath FilePath::ReplaceExtensionASCII(StringSlice extension) const {
  return ReplaceExtension(AsciiToWide(extension));
}

FilePath FilePath::InsertBeforeExtension(WideStringSlice suffix) const {
  const std::wstring inserted = CutAtNul(suffix);
  if (inserted.empty())
    return *this;
  if (IsEmptyOrSpecialCase(BaseName().path_))
    return FilePath();
  FilePath result = RemoveExtension();
  result.path_ += inserted;
  result.path_ += GetExtension();
  return result;
}

FilePath FilePath::InsertBeforeExtensionASCII(StringSlice suffix) const {
  return InsertBeforeExtension(AsciiToWide(suffix));
}

FilePath FilePath::Append(WideStringSlice component) const {
  const std::wstring appended = CutAtNul(component);
  if (path_ == kCurrentDirectory)
    return FilePath(appended);
  FilePath result(*this);
  result.StripTrailingSeparatorsInternal();
  if (appended.empty())
    return result;
  std::wstring& text = result.path_;
  const bool bare_drive = FindDriveLetter(text) + 1 == text.size();
  if (!text.empty() && !IsSeparator(text.back()) && !bare_drive)
    text += kPreferredSeparator;
  text += appended;
  return result;
}

FilePath FilePath::Append(const std::wstring& component) const {
  return Append(WideStringSlice(component));
}

FilePath FilePath::Append(const wchar_t* component) const {
  return Append(WideStringSlice(component));
}

FilePath FilePath::AppendASCII(StringSlice component) const {
  return Append(AsciiToWide(component));
}

bool FilePath::IsAbsolute() const {
  return IsPathAbsolute(path_);
}

FilePath FilePath::StripTrailingSeparators() const {
  FilePath result(*this);
  result.StripTrailingSeparatorsInternal();
  return result;
}

FilePath FilePath::NormalizePathSeparators() const {
  return NormalizePathSeparatorsTo(kPreferredSeparator);
}

FilePath FilePath::NormalizePathSeparatorsTo(wchar_t separator) const {
  FilePath result(*this);
  std::replace_if(result.path_.begin(), result.path_.end(), IsSeparator,
                  separator);
  return result;
}

void FilePath::GetComponents(std::vector<std::wstring>* components) const {
  components->clear();
  if (path_.empty())
    return;
  std::vector<std::wstring> reversed;
  FilePath current(*this);
  for (FilePath dir = current.DirName(); current != dir;
       current = dir, dir = current.DirName()) {
    std::wstring base = current.BaseName().path_;
    if (!AreAllSeparators(base))
      reversed.push_back(std::move(base));
  }
  // What is left is the root ("\", "\\", "C:\") or "." and a drive part.
  const std::wstring root = current.BaseName().path_;
  if (!root.empty() && root != kCurrentDirectory)
    reversed.push_back(root);
  const std::wstring drive = current.DirName().path_;
  const size_t letter = FindDriveLetter(drive);
  if (letter != npos)
    reversed.push_back(drive.substr(0, letter + 1));
  components->assign(reversed.rbegin(), reversed.rend());
}

bool FilePath::IsParent(const FilePath& child) const {
  return AppendRelativePath(child, nullptr);
}

bool FilePath::AppendRelativePath(const FilePath& child, FilePath* path) const {
  std::vector<std::wstring> parent_components;
  std::vector<std::wstring> child_components;
  GetComponents(&parent_components);
  child.GetComponents(&child_components);
  if (parent_components.empty() ||
      parent_components.size() >= child_components.size()) {
    return false;
  }

  size_t index = 0;
  if (FindDriveLetter(parent_components[0]) != npos &&
      FindDriveLetter(child_components[0]) != npos) {
    const WideStringSlice parent_drive(parent_components[0]);
    const WideStringSlice child_drive(child_components[0]);
    if (child_drive.size() > parent_drive.size() ||
        !EqualsIgnoringAsciiCase(parent_drive.Substr(0, child_drive.size()),
                                 child_drive)) {
      return false;
    }
    index = 1;
  }
  for (; index < parent_components.size(); ++index) {
    if (parent_components[index] != child_components[index])
      return false;
  }
  if (path) {
    for (; index < child_components.size(); ++index)
      *path = path->Append(child_components[index]);
  }
  return true;
}

bool FilePath::ReferencesParent() const {
  if (path_.find(kParentDirectory) == npos)
    return false;
  std::vector<std::wstring> components;
  GetComponents(&components);
  // Windows drops trailing dots and blanks of a component, so "... " walks up
  // just as ".." does.
  for (const std::wstring& component : components) {
    if (component.find_first_not_of(L". \n\r\t") == npos &&
        component.find(kParentDirectory) != npos) {
      return true;
    }
  }
  return false;
}

bool FilePath::operator==(const FilePath& other) const {
  return PathStringsEqualIgnoringDriveCase(path_, other.path_);
}

bool FilePath::operator!=(const FilePath& other) const {
  return !(*this == other);
}

// static
int FilePath::CompareIgnoreCase(const FilePath& a, const FilePath& b) {
  // CompareStringOrdinal upper-cases unit by unit with the system's table, as
  // CharUpperW does, but lives in kernel32: no user32 has to be loaded.
  if (a.path_.size() <= INT_MAX && b.path_.size() <= INT_MAX) {
    const int result = ::CompareStringOrdinal(
        a.path_.data(), static_cast<int>(a.path_.size()), b.path_.data(),
        static_cast<int>(b.path_.size()), TRUE);
    if (result == CSTR_LESS_THAN)
      return -1;
    if (result == CSTR_EQUAL)
      return 0;
    if (result == CSTR_GREATER_THAN)
      return 1;
  }
  return CompareFoldingAsciiOnly(a.path_, b.path_);
}

void FilePath::StripTrailingSeparatorsInternal() {
  // start is 3 after a drive letter ("C:\"), else 1: a root is never
  // stripped. A leading pair ("\\", "C:\\") survives unless a third
  // separator was stripped right before it.
  const size_t start = FindDriveLetter(path_) + 2;
  size_t last_stripped = npos;
  for (size_t pos = path_.size(); pos > start && IsSeparator(path_[pos - 1]);
       --pos) {
    if (pos != start + 1 || last_stripped == start + 2 ||
        !IsSeparator(path_[start - 1])) {
      path_.resize(pos - 1);
      last_stripped = pos;
    }
  }
}

bool IsPathAbsolute(WideStringSlice path) {
  if (path.size() >= 2 && path[1] == L':' && IsAsciiLetter(path[0]))
    return path.size() > 2 && FilePath::IsSeparator(path[2]);
  return path.size() > 1 && FilePath::IsSeparator(path[0]) &&
         FilePath::IsSeparator(path[1]);
}

}  // namespace base
