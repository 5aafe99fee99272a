#include "base/files/file_enumerator.h"

#include "base/win/windows_version.h"

namespace base {

namespace {

constexpr wchar_t kMatchEverything[] = L"*";

// Codes with which a listing ends normally: the directory is finished, or
// nothing in it matches the pattern.
bool IsEndOfListing(DWORD code) {
  return code == ERROR_NO_MORE_FILES || code == ERROR_FILE_NOT_FOUND;
}

HANDLE FindFirst(const FilePath& search, WIN32_FIND_DATAW* data) {
  // Skipping short names and fetching in large batches is only understood
  // from Windows 7 on.
  if (win::GetWindowsVersion() >= win::kVersionWin7) {
    return ::FindFirstFileExW(search.value().c_str(), FindExInfoBasic, data,
                              FindExSearchNameMatch, nullptr,
                              FIND_FIRST_EX_LARGE_FETCH);
  }
  return ::FindFirstFileW(search.value().c_str(), data);
}

}  // namespace

void FileEnumerator::ScopedFindHandle::Set(HANDLE handle) {
  Close();
  handle_ = handle;
}

void FileEnumerator::ScopedFindHandle::Close() {
  if (IsValid())
    ::FindClose(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

FileEnumerator::FileEnumerator(const FilePath& root,
                               bool recursive,
                               int file_types,
                               WideStringSlice pattern)
    : root_(root),
      recursive_(recursive),
      file_types_(file_types),
      pattern_(pattern.AsString()) {
  pending_.push_back(root);
}

FileEnumerator::FileEnumerator(const FilePath& root, int file_types)
    : FileEnumerator(root, true, file_types, WideStringSlice()) {}

FileEnumerator::~FileEnumerator() = default;

FilePath FileEnumerator::Next() {
  while (error_ == ERROR_SUCCESS) {
    if (has_find_data_) {
      if (!::FindNextFileW(find_handle_.Get(), &find_data_)) {
        const DWORD code = ::GetLastError();
        find_handle_.Close();
        has_find_data_ = false;
        pattern_.clear();
        // Anything but the normal end means entries were not seen; a copy or
        // delete built on the listing must not report success.
        if (!IsEndOfListing(code))
          error_ = code;
        continue;
      }
    } else if (pending_.empty()) {
      break;
    } else if (!OpenNextDirectory()) {
      continue;
    }
    FilePath path;
    if (AcceptCurrentEntry(&path))
      return path;
  }
  return FilePath();
}

WIN32_FIND_DATAW FileEnumerator::GetInfo() const {
  if (!has_find_data_)
    return WIN32_FIND_DATAW{};
  return find_data_;
}

bool FileEnumerator::OpenNextDirectory() {
  root_ = pending_.back();
  pending_.pop_back();
  const FilePath search =
      root_.Append(pattern_.empty() ? kMatchEverything : pattern_.c_str());
  find_handle_.Set(FindFirst(search, &find_data_));
  if (find_handle_.IsValid()) {
    has_find_data_ = true;
    return true;
  }
  const DWORD code = ::GetLastError();
  // The pattern filters only the root; every deeper directory is listed whole.
  pattern_.clear();
  if (!IsEndOfListing(code))
    error_ = code;
  return false;
}

bool FileEnumerator::AcceptCurrentEntry(FilePath* path) {
  const WideStringSlice name(find_data_.cFileName);
  const bool is_parent = name.Equals(FilePath::kParentDirectory);
  if (name.Equals(FilePath::kCurrentDirectory) ||
      (is_parent && !(file_types_ & kIncludeDotDot))) {
    return false;
  }
  *path = root_.Append(name);
  if (find_data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    // A reparse point (junction, directory symbolic link) may lead anywhere,
    // even above the root: list it, never enter it.
    const bool is_link =
        find_data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
    if (recursive_ && !is_link && !is_parent)
      pending_.push_back(*path);
    return file_types_ & kDirectories;
  }
  return file_types_ & kFiles;
}

}  // namespace base
