#include "desktop/windows/installer/signing/held_file_path.h"

#include <string_view>
#include <utility>

#include "desktop/windows/installer/paths/device_name.h"

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

// Characters that a path reads otherwise than as part of a name: a
// separator, a stream's or drive's colon, wildcards.
constexpr std::wstring_view kCharactersReadOtherwise = L"/:*?\"<>|";

// Whether every name after `start` is a plain one, kept as it is spelled:
// no empty name, none of "." and "..", which a final path never holds and
// a folder list would take for another folder.
bool HasPlainNames(std::wstring_view path, size_t start) {
  for (;;) {
    const size_t end = path.find(L'\\', start);
    const std::wstring_view name = path.substr(start, end - start);
    if (name.empty() || name == L"." || name == L".." ||
        !HeldFilePath::HasNameKeptAsIs(name)) {
      return false;
    }
    if (end == std::wstring_view::npos)
      return true;
    start = end + 1;
  }
}

// Where the names that a path hands on begin: a share's server and share
// names are read by the same rules as its folders'.
size_t FirstNameOf(std::wstring_view path, size_t root) {
  return path.starts_with(kLongUncPrefix) ? kLongUncPrefix.size() : root;
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
  if (root == 0)
    return ERROR_BAD_PATHNAME;
  if (!HasPlainNames(final_path, FirstNameOf(final_path, root)))
    return ERROR_INVALID_NAME;
  const std::wstring handed_on = WithoutLongPrefix(final_path);
  // Before any folder is held: a path that names a sibling folder holds
  // that one, or fails on a sibling that is not there.
  if (const DWORD error = OpensFile(handed_on, file))
    return error;
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
  DWORD error = ReadFinalPath(file, &held_path);
  if (error == 0 && held_path != final_path)
    error = ERROR_FILE_INVALID;
  if (error == 0)
    error = OpensFile(handed_on, file);
  if (error) {
    Release();
    return error;
  }
  path_ = handed_on;
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
  return OpensFile(path_, file);
}

// static
DWORD HeldFilePath::VerifyProcessImage(HANDLE process, HANDLE file) {
  std::wstring image(kMaxPathLength, L'\0');
  DWORD length = static_cast<DWORD>(image.size());
  if (!::QueryFullProcessImageNameW(process, 0, image.data(), &length))
    return ::GetLastError();
  image.resize(length);
  const std::wstring as_spelled = AsSpelled(image);
  if (as_spelled.empty())
    return ERROR_BAD_PATHNAME;
  return OpensFile(as_spelled, file);
}

// static
std::wstring HeldFilePath::AsSpelled(std::wstring_view path) {
  if (path.starts_with(kLongPrefix))
    return std::wstring(path);
  if (path.starts_with(L"\\\\"))
    return std::wstring(kLongUncPrefix) + std::wstring(path.substr(2));
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' &&
      path[2] == L'\\') {
    return std::wstring(kLongPrefix) + std::wstring(path);
  }
  return std::wstring();
}

// static
bool HeldFilePath::HasNameKeptAsIs(std::wstring_view name) {
  if (name.empty() || name.back() == L'.' || name.back() == L' ' ||
      IsDeviceName(name)) {
    return false;
  }
  for (const wchar_t character : name) {
    if (character < L' ' ||
        kCharactersReadOtherwise.find(character) != std::wstring_view::npos) {
      return false;
    }
  }
  return true;
}

// static
bool HeldFilePath::IsFolderRefusal(DWORD pin_error) {
  return pin_error == ERROR_INVALID_NAME || pin_error == ERROR_FILE_INVALID;
}

// static
DWORD HeldFilePath::OpensFile(const std::wstring& path, HANDLE file) {
  // Attributes alone: no sharing mode of the holder's stands in the way.
  ScopedFileHandle opened(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (opened.get() == INVALID_HANDLE_VALUE) {
    opened.release();
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? ERROR_FILE_INVALID
               : error;
  }
  return IsSameFile(file, opened.get()) ? 0 : ERROR_FILE_INVALID;
}

void HeldFilePath::Release() {
  path_.clear();
  folders_.clear();
}

}  // namespace installer
