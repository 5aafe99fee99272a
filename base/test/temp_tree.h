#ifndef BASE_TEST_TEMP_TREE_H_
#define BASE_TEST_TEMP_TREE_H_

#include <windows.h>

#include <atomic>
#include <string>

#include "base/files/file_path.h"

namespace base {

// A fresh folder under the temporary directory in which a test builds a
// small tree. Removed with everything in it on destruction, by plain Win32
// calls, so that the code under test never cleans up after itself.
class TempTree {
 public:
  // Process ids repeat between runs (quickly under Wine) and a tree that
  // could not be removed stays behind, so names already taken are skipped.
  TempTree() {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    const FilePath temp_folder(std::wstring(temp, length));
    for (int attempt = 0; attempt < 1000; ++attempt) {
      const FilePath candidate = temp_folder.Append(
          L"tarvo_tree_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
          std::to_wstring(counter++));
      if (::CreateDirectoryW(candidate.value().c_str(), nullptr)) {
        root_ = candidate;
        return;
      }
      if (::GetLastError() != ERROR_ALREADY_EXISTS)
        return;
    }
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;
  ~TempTree() {
    if (!root_.empty())
      RemoveTree(root_);
  }

  // Empty when the folder could not be made.
  const FilePath& root() const { return root_; }
  FilePath Path(const wchar_t* relative) const {
    return root_.Append(relative);
  }

  // Creates the folder and its missing parents below the root.
  FilePath MakeDir(const wchar_t* relative) const {
    const FilePath dir = Path(relative);
    std::wstring partial;
    for (const wchar_t* unit = relative;; ++unit) {
      if (*unit == L'\\' || *unit == L'\0')
        ::CreateDirectoryW(root_.Append(partial).value().c_str(), nullptr);
      if (*unit == L'\0')
        break;
      partial += *unit;
    }
    return dir;
  }

  FilePath WriteFile(const wchar_t* relative,
                     const std::string& contents,
                     DWORD attributes = FILE_ATTRIBUTE_NORMAL) const {
    const FilePath file = Path(relative);
    HANDLE handle = ::CreateFileW(file.value().c_str(), GENERIC_WRITE, 0,
                                  nullptr, CREATE_ALWAYS, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      ::WriteFile(handle, contents.data(), static_cast<DWORD>(contents.size()),
                  &written, nullptr);
      ::CloseHandle(handle);
    }
    ::SetFileAttributesW(file.value().c_str(), attributes);
    return file;
  }

  static bool Exists(const FilePath& path) {
    return ::GetFileAttributesW(path.value().c_str()) !=
           INVALID_FILE_ATTRIBUTES;
  }

  static std::string ReadFile(const FilePath& path) {
    std::string contents;
    HANDLE handle =
        ::CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
      return "<missing>";
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(handle, buffer, sizeof(buffer), &read, nullptr) && read)
      contents.append(buffer, read);
    ::CloseHandle(handle);
    return contents;
  }

 private:
  static void RemoveTree(const FilePath& dir) {
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW(dir.Append(L"*").value().c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
          continue;
        const FilePath child = dir.Append(name);
        ::SetFileAttributesW(child.value().c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveTree(child);
        else
          ::DeleteFileW(child.value().c_str());
      } while (::FindNextFileW(find, &entry));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(dir.value().c_str());
  }

  FilePath root_;
};

}  // namespace base

#endif  // BASE_TEST_TEMP_TREE_H_
