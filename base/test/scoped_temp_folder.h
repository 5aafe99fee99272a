#ifndef BASE_TEST_SCOPED_TEMP_FOLDER_H_
#define BASE_TEST_SCOPED_TEMP_FOLDER_H_

#include <windows.h>

#include <atomic>
#include <string>

#include "base/files/file_path.h"

namespace base {

// A fresh folder under the temporary directory for one test. Deleted with
// its files on destruction; tests keep to a flat folder, so no recursion.
class ScopedTempFolder {
 public:
  ScopedTempFolder() : ScopedTempFolder(TempDirectory()) {}

  // In `base_folder` instead, for a test that needs a folder outside the
  // user's profile (the build's own).
  // Process ids repeat between runs and a crashed run leaves its folder
  // behind, so names already taken are skipped.
  explicit ScopedTempFolder(const FilePath& base_folder) {
    static std::atomic<int> counter{0};
    if (base_folder.empty())
      return;
    for (int attempt = 0; attempt < 1000; ++attempt) {
      std::wstring name = L"tarvo_test_" +
                          std::to_wstring(::GetCurrentProcessId()) + L"_" +
                          std::to_wstring(counter++);
      FilePath candidate = base_folder.Append(name);
      if (::CreateDirectoryW(candidate.value().c_str(), nullptr)) {
        path_ = candidate;
        return;
      }
      if (::GetLastError() != ERROR_ALREADY_EXISTS)
        return;
    }
  }
  ScopedTempFolder(const ScopedTempFolder&) = delete;
  ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

  ~ScopedTempFolder() {
    if (path_.empty())
      return;
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW(path_.Append(L"*").value().c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring child = path_.Append(entry.cFileName).value();
        ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(child.c_str());
      } while (::FindNextFileW(find, &entry));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(path_.value().c_str());
  }

  // Empty when the folder could not be made.
  const FilePath& path() const { return path_; }

 private:
  static FilePath TempDirectory() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH)
      return FilePath();
    return FilePath(std::wstring(temp, length));
  }

  FilePath path_;
};

}  // namespace base

#endif  // BASE_TEST_SCOPED_TEMP_FOLDER_H_
