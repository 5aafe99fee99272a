#include "base/files/new_file_in_folder.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/files/final_path.h"
#include "base/files/held_folder.h"
#include "base/files/resolved_entry.h"

namespace base {

namespace {

// ERROR_REPARSE_POINT_ENCOUNTERED, which mingw's headers lack.
constexpr DWORD kErrorLinkOnTheWay = 4395;
// Another process removing a folder holds it a moment with delete access,
// which the hold below cannot share: waited out briefly, not taken as a
// fault.
constexpr int kFolderOpenTries = 50;
constexpr DWORD kFolderOpenPauseMs = 10;
// What one ReadFile call of ReadToString asks for.
constexpr size_t kReadPieceSize = 1 << 20;

// A Windows call that fills a buffer and returns the length it needs when
// the buffer is too small; empty on failure.
template <typename Call>
std::wstring ReadPath(Call call) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int round = 0; round < 4; ++round) {
    const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0)
      return std::wstring();
    if (length < buffer.size())
      return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
  return std::wstring();
}

std::wstring FullPath(const std::wstring& path) {
  return ReadPath([&](wchar_t* buffer, DWORD size) {
    return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
  });
}

// Short (8.3) names in a temporary folder's path are common; the final path
// spells every name long.
std::wstring LongPath(const std::wstring& path) {
  std::wstring long_path = ReadPath([&](wchar_t* buffer, DWORD size) {
    return GetLongPathNameW(path.c_str(), buffer, size);
  });
  return long_path.empty() ? path : long_path;
}

std::wstring_view WithoutTrailingSeparators(std::wstring_view path) {
  while (!path.empty() && path.back() == L'\\')
    path.remove_suffix(1);
  return path;
}

std::wstring Join(const std::wstring& folder, std::wstring_view name) {
  if (!folder.empty() && folder.back() == L'\\')
    return folder + std::wstring(name);
  return folder + L'\\' + std::wstring(name);
}

// Called between holding the folder and making the file; tests only.
NewFileInFolder::FolderHeldHook g_folder_held_hook = nullptr;

// Whether `folder` ("X:\..." or "\\server\share\...") lies on a drive,
// where HeldFolder can hold it from the root down.
bool IsOnDrive(const std::wstring& folder) {
  return folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\';
}

// A folder held by its name without FILE_SHARE_DELETE while the file is
// made: it can be neither renamed nor replaced by a link until then.
// Opened as the link itself when it is one, so that its final path gives
// it away.
win::ScopedHandle HoldFolderByName(const std::wstring& folder) {
  return win::ScopedHandle(CreateFileW(
      folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool IsFolder(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info = {};
  return GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The folder files are made in and read from. On a drive it is held from
// the root down, every level without a link and none of them renamable
// while held, and names go relative to its handle: a folder on the way
// swapped for a link after the check sends nothing elsewhere. A share's
// folders, and those beyond a volume mounted in a folder, lie out of reach
// of the root-down hold; there the folder is held by name and each file's
// final path is checked.
struct Folder {
  HeldFolder::Ref held;
  win::ScopedHandle by_name;
  // As given, in its long spelling, with a trailing separator.
  std::wstring path;
};

// Holds `folder` by its name: ERROR_SUCCESS only when it is a folder of
// its own whose final path is the name's, so that no link leads there.
DWORD HoldByName(const std::wstring& folder, Folder* held) {
  held->by_name = HoldFolderByName(folder);
  if (!held->by_name.IsValid())
    return GetLastError();
  if (!IsFolder(held->by_name.Get()) ||
      !NewFileInFolder::IsSamePlace(GetFinalPath(held->by_name.Get(), folder),
                                    folder)) {
    return ERROR_CANT_RESOLVE_FILENAME;
  }
  return ERROR_SUCCESS;
}

// Holds `folder` (ending in a separator): ERROR_SUCCESS, or why not.
DWORD HoldFolder(const std::wstring& folder, Folder* held) {
  held->path = folder;
  for (int round = 1;; ++round) {
    DWORD error = ERROR_SUCCESS;
    if (IsOnDrive(folder)) {
      held->held = HeldFolder::Open(FilePath(folder));
      error = held->held ? ERROR_SUCCESS : GetLastError();
      // A volume mounted in a folder on the way is a reparse point, which
      // the root-down hold opens as itself and so cannot pass: such a
      // folder is held by name, as a share's is. A link that leads
      // anywhere else still fails the final path's check.
      if (error == ERROR_CANT_RESOLVE_FILENAME)
        error = HoldByName(folder, held);
    } else {
      error = HoldByName(folder, held);
    }
    if (error == ERROR_CANT_RESOLVE_FILENAME)
      return kErrorLinkOnTheWay;
    if (error != ERROR_SHARING_VIOLATION || round == kFolderOpenTries)
      return error;
    Sleep(kFolderOpenPauseMs);
  }
}

// Where a name is taken (a file, a link of any kind, a folder: Windows
// refuses a folder's name with access denied), the next one is tried.
bool IsNameTaken(DWORD error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
         error == ERROR_ACCESS_DENIED;
}

// Made new under `name`: where a link appears under the name after all,
// the link itself is what the create finds taken, never its target. A name
// taken is ERROR_FILE_EXISTS on either route, as its callers know it.
win::ScopedHandle CreateNew(const Folder& folder,
                            const std::wstring& name,
                            DWORD access) {
  constexpr DWORD kSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (folder.held) {
    // As CreateFileW asks: its callers read the size and times back.
    win::ScopedHandle file = folder.held->CreateNewFile(
        name, access | FILE_READ_ATTRIBUTES, kSharing);
    if (!file.IsValid() && GetLastError() == ERROR_ALREADY_EXISTS)
      SetLastError(ERROR_FILE_EXISTS);
    return file;
  }
  return win::ScopedHandle(CreateFileW(
      Join(folder.path, name).c_str(), access, kSharing, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// A plain file left under `name` goes, judged and deleted through the
// handle that judged it; a link, a file with a second name or one still in
// use stays and keeps the name (Wine deletes a file link's target by its
// name). Logs nothing: the log's own file is made here.
void DeleteOldFile(const Folder& folder, const std::wstring& name) {
  if (!folder.held) {
    ResolvedEntry entry = ResolvedEntry::Resolve(
        FilePath(Join(folder.path, name)), ResolvedEntry::Purpose::kToDelete);
    if (entry.kind() == ResolvedEntry::Kind::kPlain && !entry.is_directory())
      std::ignore = entry.DeleteJudgedFile();
    return;
  }
  const win::ScopedHandle old = folder.held->OpenPlainFile(
      name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  if (old.IsValid()) {
    std::ignore = SetFileInformationByHandle(
        old.Get(), FileDispositionInfo, &disposition, sizeof(disposition));
  }
}

}  // namespace

// static
NewFileInFolder::Result NewFileInFolder::Create(std::wstring_view path,
                                                OldFile old_file,
                                                DWORD access,
                                                int name_tries) {
  Result result;
  const std::wstring full = FullPath(std::wstring(path));
  const size_t separator = full.rfind(L'\\');
  if (separator == std::wstring::npos) {
    result.path = std::wstring(path);
    result.error = ERROR_INVALID_NAME;
    return result;
  }
  result.path = full;
  const std::wstring folder = LongPath(full.substr(0, separator + 1));
  const std::wstring name = full.substr(separator + 1);
  Folder held;
  result.error = HoldFolder(folder, &held);
  if (result.error != ERROR_SUCCESS)
    return result;
  if (g_folder_held_hook)
    g_folder_held_hook(folder);
  for (int try_number = 1; try_number <= std::min(name_tries, kNameTries);
       ++try_number) {
    const std::wstring try_name = NameOfTry(name, try_number);
    const std::wstring candidate = Join(folder, try_name);
    if (old_file == OldFile::kDelete)
      DeleteOldFile(held, try_name);
    win::ScopedHandle file = CreateNew(held, try_name, access);
    if (!file.IsValid()) {
      result.error = GetLastError();
      if (!IsNameTaken(result.error))
        return result;
      continue;
    }
    // Made through a link after all: closed unwritten.
    if (!IsSamePlace(GetFinalPath(file.Get(), candidate), candidate)) {
      result.error = kErrorLinkOnTheWay;
      return result;
    }
    result.file = std::move(file);
    result.path = candidate;
    result.try_number = try_number;
    result.error = ERROR_SUCCESS;
    return result;
  }
  return result;
}

// static
win::ScopedHandle NewFileInFolder::OpenToRead(std::wstring_view path) {
  const std::wstring full = FullPath(std::wstring(path));
  const size_t separator = full.rfind(L'\\');
  if (separator == std::wstring::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return win::ScopedHandle();
  }
  const std::wstring folder = LongPath(full.substr(0, separator + 1));
  const std::wstring name = full.substr(separator + 1);
  Folder held;
  const DWORD error = HoldFolder(folder, &held);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return win::ScopedHandle();
  }
  if (g_folder_held_hook)
    g_folder_held_hook(folder);
  if (held.held) {
    win::ScopedHandle file = held.held->OpenPlainFile(
        name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    // A folder is refused as CreateFileW refuses it, with access denied.
    if (!file.IsValid() && GetLastError() == ERROR_CANT_RESOLVE_FILENAME) {
      SetLastError(held.held->OpenSubfolder(name, false) ? ERROR_ACCESS_DENIED
                                                         : kErrorLinkOnTheWay);
    }
    return file;
  }
  const std::wstring long_path = Join(folder, name);
  win::ScopedHandle file(CreateFileW(
      long_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid())
    return file;
  BY_HANDLE_FILE_INFORMATION info = {};
  // A device or pipe name ("nul", "\\.\pipe\x") is no file of the folder.
  if (GetFileType(file.Get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      info.nNumberOfLinks != 1 ||
      !IsSamePlace(GetFinalPath(file.Get(), long_path), long_path)) {
    SetLastError(kErrorLinkOnTheWay);
    return win::ScopedHandle();
  }
  return file;
}

// static
NewFileInFolder::FolderHeldHook NewFileInFolder::SetFolderHeldHookForTesting(
    FolderHeldHook hook) {
  const FolderHeldHook previous = g_folder_held_hook;
  g_folder_held_hook = hook;
  return previous;
}

// static
bool NewFileInFolder::ReadToString(std::wstring_view path,
                                   size_t max_size,
                                   std::string* contents) {
  contents->clear();
  const win::ScopedHandle file = OpenToRead(path);
  LARGE_INTEGER size = {};
  if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size))
    return false;
  if (static_cast<uint64_t>(size.QuadPart) > max_size) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  // One byte more than the size: a file that grew meanwhile is refused.
  std::string bytes(static_cast<size_t>(size.QuadPart) + 1, '\0');
  size_t done = 0;
  for (;;) {
    if (done == bytes.size()) {
      SetLastError(ERROR_FILE_TOO_LARGE);
      return false;
    }
    const DWORD piece = static_cast<DWORD>(
        std::min<size_t>(bytes.size() - done, kReadPieceSize));
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes.data() + done, piece, &read, nullptr))
      return false;
    if (read == 0)
      break;
    done += read;
  }
  bytes.resize(done);
  *contents = std::move(bytes);
  return true;
}

// static
std::wstring NewFileInFolder::NameOfTry(std::wstring_view path,
                                        int try_number) {
  if (try_number <= 1)
    return std::wstring(path);
  const size_t name_start = path.rfind(L'\\') + 1;  // npos + 1 is 0
  size_t extension = path.rfind(L'.');
  if (extension == std::wstring_view::npos || extension <= name_start)
    extension = path.size();
  return std::wstring(path.substr(0, extension)) + L'_' +
         std::to_wstring(try_number) + std::wstring(path.substr(extension));
}

// static
bool NewFileInFolder::IsSamePlace(std::wstring_view final_path,
                                  std::wstring_view path) {
  const std::wstring final_form = WithoutLongPrefix(final_path);
  const std::wstring_view left = WithoutTrailingSeparators(final_form);
  const std::wstring_view right = WithoutTrailingSeparators(path);
  return !left.empty() &&
         CompareStringOrdinal(left.data(), static_cast<int>(left.size()),
                              right.data(), static_cast<int>(right.size()),
                              TRUE) == CSTR_EQUAL;
}

}  // namespace base
