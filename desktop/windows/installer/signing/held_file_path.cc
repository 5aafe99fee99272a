#include "desktop/windows/installer/signing/held_file_path.h"

#include <string_view>
#include <utility>

namespace installer {

namespace {

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";
// Longer names than this are refused rather than read.
constexpr DWORD kMaxPathLength = 32768;
// Holds a folder against renaming and deletion: either needs DELETE access,
// which no-one gets while a handle that asked for data access shares no
// deletion. Writing inside stays open to everyone.
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | SYNCHRONIZE;
constexpr DWORD kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The folder itself, never what a link in its place leads to.
constexpr DWORD kFolderFlags =
    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// The final path of what is open on `handle` as the system spells it,
// "\\?\C:\..." or "\\?\UNC\server\share\...".
DWORD ReadFinalPath(HANDLE handle, std::wstring* path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int round = 0; round < 3; ++round) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        handle, buffer.data(), static_cast<DWORD>(buffer.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      const DWORD error = ::GetLastError();
      return error ? error : ERROR_BAD_PATHNAME;
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      *path = std::move(buffer);
      return 0;
    }
    if (length > kMaxPathLength)
      return ERROR_FILENAME_EXCED_RANGE;
    buffer.resize(length + 1);
  }
  return ERROR_MORE_DATA;
}

bool IsDriveLetter(wchar_t letter) {
  return (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
}

// The length of the volume's root in `path`, "\\?\C:\" or
// "\\?\UNC\server\share\"; 0 when it has neither form.
size_t RootLength(std::wstring_view path) {
  if (path.starts_with(kLongUncPrefix)) {
    const size_t server_end = path.find(L'\\', kLongUncPrefix.size());
    if (server_end == std::wstring_view::npos ||
        server_end == kLongUncPrefix.size()) {
      return 0;
    }
    const size_t share_end = path.find(L'\\', server_end + 1);
    if (share_end == std::wstring_view::npos || share_end == server_end + 1)
      return 0;
    return share_end + 1;
  }
  if (!path.starts_with(kLongPrefix))
    return 0;
  const std::wstring_view rest = path.substr(kLongPrefix.size());
  if (rest.size() < 3 || !IsDriveLetter(rest[0]) || rest[1] != L':' ||
      rest[2] != L'\\') {
    return 0;
  }
  return kLongPrefix.size() + 3;
}

// Whether every name below the root is a plain one: no empty name, none of
// "." and "..", which a final path never holds and a folder list would
// take for another folder.
bool HasPlainNames(std::wstring_view below_root) {
  size_t start = 0;
  for (;;) {
    const size_t end = below_root.find(L'\\', start);
    const std::wstring_view name = below_root.substr(start, end - start);
    if (name.empty() || name == L"." || name == L"..")
      return false;
    if (end == std::wstring_view::npos)
      return true;
    start = end + 1;
  }
}

// As a program is started by: the prefix goes, which a command line's
// program would carry on to every path the program makes from its own.
std::wstring WithoutLongPrefix(std::wstring_view path) {
  if (path.starts_with(kLongUncPrefix))
    return L"\\\\" + std::wstring(path.substr(kLongUncPrefix.size()));
  return std::wstring(path.substr(kLongPrefix.size()));
}

bool IsSameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION first = {};
  BY_HANDLE_FILE_INFORMATION second = {};
  return ::GetFileInformationByHandle(a, &first) &&
         ::GetFileInformationByHandle(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

}  // namespace

void HeldFilePath::HandleCloser::operator()(HANDLE handle) const {
  ::CloseHandle(handle);
}

HeldFilePath::HeldFilePath() = default;
HeldFilePath::HeldFilePath(HeldFilePath&&) noexcept = default;
HeldFilePath& HeldFilePath::operator=(HeldFilePath&&) noexcept = default;
HeldFilePath::~HeldFilePath() = default;

DWORD HeldFilePath::Pin(HANDLE file) {
  Release();
  std::wstring final_path;
  if (const DWORD error = ReadFinalPath(file, &final_path))
    return error;
  const size_t root = RootLength(final_path);
  if (root == 0 || !HasPlainNames(std::wstring_view(final_path).substr(root)))
    return ERROR_BAD_PATHNAME;
  // Each folder from the top down, so that a folder is held before the
  // next one's place in it is looked at.
  for (size_t separator = final_path.find(L'\\', root);
       separator != std::wstring::npos;
       separator = final_path.find(L'\\', separator + 1)) {
    if (const DWORD error = HoldFolder(final_path.substr(0, separator))) {
      Release();
      return error;
    }
  }
  // The file may have left between the first look and the holds.
  std::wstring held_path;
  if (const DWORD error = ReadFinalPath(file, &held_path)) {
    Release();
    return error;
  }
  if (held_path != final_path) {
    Release();
    return ERROR_FILE_INVALID;
  }
  path_ = WithoutLongPrefix(final_path);
  return 0;
}

DWORD HeldFilePath::HoldFolder(const std::wstring& folder) {
  // Opened by the system's own spelling: no name is trimmed or
  // reinterpreted on the way.
  ScopedFileHandle held(::CreateFileW(folder.c_str(), kFolderAccess,
                                  kFolderSharing, nullptr, OPEN_EXISTING,
                                  kFolderFlags, nullptr));
  if (held.get() == INVALID_HANDLE_VALUE) {
    held.release();
    return ::GetLastError();
  }
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(held.get(), &information))
    return ::GetLastError();
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return ERROR_CANT_RESOLVE_FILENAME;
  }
  // Wine opens what a link leads to whatever the flags say, and shows it
  // as a plain folder: only the handle's own path tells.
  std::wstring final_path;
  if (const DWORD error = ReadFinalPath(held.get(), &final_path))
    return error;
  if (final_path != folder)
    return ERROR_CANT_RESOLVE_FILENAME;
  folders_.push_back(std::move(held));
  return 0;
}

DWORD HeldFilePath::Verify(HANDLE file) const {
  if (path_.empty())
    return ERROR_FILE_INVALID;
  std::wstring final_path;
  if (const DWORD error = ReadFinalPath(file, &final_path))
    return error;
  if (WithoutLongPrefix(final_path) != path_)
    return ERROR_FILE_INVALID;
  ScopedFileHandle by_path(::CreateFileW(
      path_.c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (by_path.get() == INVALID_HANDLE_VALUE) {
    by_path.release();
    return ::GetLastError();
  }
  return IsSameFile(file, by_path.get()) ? 0 : ERROR_FILE_INVALID;
}

void HeldFilePath::Release() {
  path_.clear();
  folders_.clear();
}

}  // namespace installer
