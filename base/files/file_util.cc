#include "base/files/file_util.h"

#include <share.h>
#include <shlobj.h>
#include <winternl.h>
#include <stdlib.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/empty_folder_removal.h"
#include "base/files/file_enumerator.h"
#include "base/files/final_path.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"

// VLOG(level) with the text of `code` appended, as PLOG does for errors.
#define VPLOG_WITH_CODE(level, code)                                 \
  BASE_LOG_STREAM_IF(                                                \
      ::base::ErrorLogMessage(__FILE__, __LINE__, -(level), (code)), \
      ::base::GetModuleVerbosity(__FILE__, sizeof(__FILE__)) >= (level))

namespace base {

namespace {

constexpr size_t kReadChunkSize = 65536;
constexpr wchar_t kFallbackHomeDir[] = L"C:\\";
constexpr wchar_t kWildcards[] = L"*?";
constexpr int kFilesAndDirectories =
    FileEnumerator::kFiles | FileEnumerator::kDirectories;
// What FILE_BASIC_INFO may set; the others describe the entry's kind.
constexpr DWORD kSettableAttributes =
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_TEMPORARY;

const wchar_t* Chars(const FilePath& path) {
  return path.value().c_str();
}

bool IsTooLong(const FilePath& path) {
  return path.value().size() >= MAX_PATH;
}

bool IsNotFoundError(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool IsDirectory(DWORD attributes) {
  return attributes & FILE_ATTRIBUTE_DIRECTORY;
}

// A buffer filled by an API that returns the length written (without the
// terminator) or, when the buffer is too small, the size it needs.
bool FitsBuffer(DWORD length, DWORD buffer_size) {
  return length > 0 && length < buffer_size;
}

// Clears the read-only attribute that keeps DeleteFileW and
// RemoveDirectoryW from removing an entry.
bool MakeDeletable(const FilePath& path, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_READONLY))
    return true;
  return ::SetFileAttributesW(Chars(path),
                              attributes & ~FILE_ATTRIBUTE_READONLY) != FALSE;
}

// Removes a junction or link itself, never what it leads to. The removal
// goes through a handle opened on the link (FILE_FLAG_OPEN_REPARSE_POINT),
// and only when that handle shows the reparse point: a system that resolves
// the link on open anyway (Wine does, for the Unix symbolic links it shows as
// reparse points) would otherwise delete the target, so that case fails.
bool DeleteReparsePoint(const FilePath& path) {
  win::ScopedHandle link(::CreateFileW(
      Chars(path), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
  if (!link.IsValid())
    return false;
  FILE_BASIC_INFO basic = {};
  if (!::GetFileInformationByHandleEx(link.Get(), FileBasicInfo, &basic,
                                      sizeof(basic))) {
    return false;
  }
  if (!(basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
    FILE_BASIC_INFO writable = {};  // zero times: leave them unchanged
    writable.FileAttributes = basic.FileAttributes & kSettableAttributes;
    if (writable.FileAttributes == 0)
      writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(link.Get(), FileBasicInfo, &writable,
                                      sizeof(writable))) {
      return false;
    }
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return ::SetFileInformationByHandle(link.Get(), FileDispositionInfo,
                                      &disposition,
                                      sizeof(disposition)) != FALSE;
}

bool DeleteMatchingEntriesIn(const FilePath& dir,
                             const FilePath& dir_final_path,
                             WideStringSlice pattern,
                             bool recursive);

// One entry, judged by what it resolves to: a link goes as a link (or
// stays, where the platform cannot remove one without reaching its
// target), and a walk never enters one.
bool DeleteResolvedEntry(const FilePath& path,
                         ResolvedEntry entry,
                         WideStringSlice pattern,
                         bool recursive) {
  switch (entry.kind()) {
    case ResolvedEntry::Kind::kMissing:
      return true;
    case ResolvedEntry::Kind::kUnknown:
      ::SetLastError(entry.error());
      return false;
    case ResolvedEntry::Kind::kLink:
      if (DeleteReparsePoint(path))
        return true;
      LOG(WARNING) << "Left a link that cannot be removed without reaching "
                      "what it leads to: "
                   << path.AsUTF8();
      ::SetLastError(ERROR_CANT_ACCESS_FILE);
      return false;
    case ResolvedEntry::Kind::kPlain:
      break;
  }
  if (!entry.is_directory())
    return entry.DeleteJudgedFile();
  if (!MakeDeletable(path, entry.attributes()))
    return false;
  if (recursive &&
      !DeleteMatchingEntriesIn(path, entry.path(), pattern, true)) {
    return false;
  }
  // By the final path judged, through the handle that checks it again: by
  // its name, a folder on the way swapped for a link since would send the
  // removal to an empty folder elsewhere.
  switch (RemoveEmptyFolderAt(entry.path())) {
    case EmptyFolderRemoval::kRemoved:
    case EmptyFolderRemoval::kMissing:
      return true;
    case EmptyFolderRemoval::kRefused:
    case EmptyFolderRemoval::kFailed:
      break;
  }
  return false;
}

bool DeleteMatchingEntriesIn(const FilePath& dir,
                             const FilePath& dir_final_path,
                             WideStringSlice pattern,
                             bool recursive) {
  FileEnumerator entries(dir, false, kFilesAndDirectories, pattern);
  for (FilePath entry = entries.Next(); !entry.empty();
       entry = entries.Next()) {
    const WIN32_FIND_DATAW listed = entries.GetInfo();
    if ((listed.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !recursive)
      continue;
    if (!DeleteResolvedEntry(
            entry,
            ResolvedEntry::ResolveListed(entry, dir_final_path, listed,
                                         ResolvedEntry::Purpose::kToDelete),
            pattern, recursive)) {
      return false;
    }
  }
  // A directory that is not there has nothing left to delete; any other
  // error means entries may remain unseen.
  return entries.error() == ERROR_SUCCESS ||
         entries.error() == ERROR_PATH_NOT_FOUND;
}

// The case of the letters does not matter to the file system, so it must not
// matter here: "C:\Dir" is a parent of "c:\dir\sub".
bool IsSameOrParentIgnoringCase(const FilePath& parent, const FilePath& child) {
  const std::wstring& parent_text = parent.value();
  const std::wstring& child_text = child.value();
  if (parent_text.empty() || child_text.size() < parent_text.size())
    return false;
  const FilePath child_prefix(child_text.substr(0, parent_text.size()));
  if (FilePath::CompareIgnoreCase(parent, child_prefix) != 0)
    return false;
  return child_text.size() == parent_text.size() ||
         FilePath::IsSeparator(child_text[parent_text.size()]) ||
         FilePath::IsSeparator(parent_text.back());
}

// Where `entry` of the source tree goes: `to` plus its path below `base`.
bool CopyTargetFor(const FilePath& entry,
                   const FilePath& base,
                   const FilePath& to,
                   FilePath* target) {
  *target = to;
  return entry == base || base.AppendRelativePath(entry, target);
}

// Whether the volume of `folder` has less free space than `size` bytes; false
// when either cannot be told.
bool VolumeLacksRoom(const FilePath& folder, int64_t size) {
  ULARGE_INTEGER free_bytes = {};
  if (!::GetDiskFreeSpaceExW(Chars(folder), &free_bytes, nullptr, nullptr))
    return false;
  return free_bytes.QuadPart < static_cast<uint64_t>(size);
}

// A write that ran out of space may fail without an error code (Wine's
// CopyFileW does): the target volume's free space then names the cause, so
// that no caller reports the failure as "success". An error the system gave
// is kept.
void NameSilentWriteFailure(const FilePath& target, int64_t size) {
  if (::GetLastError() != ERROR_SUCCESS)
    return;
  const bool full = VolumeLacksRoom(target.DirName(), size);
  ::SetLastError(full ? ERROR_DISK_FULL : ERROR_SUCCESS);
}

void NameSilentCopyFailure(const FilePath& from, const FilePath& to) {
  if (::GetLastError() != ERROR_SUCCESS)
    return;
  int64_t size = 0;
  if (!GetFileSize(from, &size)) {
    ::SetLastError(ERROR_SUCCESS);
    return;
  }
  NameSilentWriteFailure(to, size);
}

bool EnsureDirectory(const FilePath& path) {
  return DirectoryExists(path) || ::CreateDirectoryW(Chars(path), nullptr);
}

bool CopyTree(const FilePath& from, const FilePath& base, const FilePath& to) {
  FilePath target;
  if (!CopyTargetFor(from, base, to, &target) || !EnsureDirectory(target))
    return false;
  FileEnumerator entries(from, kFilesAndDirectories);
  for (FilePath entry = entries.Next(); !entry.empty();
       entry = entries.Next()) {
    if (!CopyTargetFor(entry, base, to, &target))
      return false;
    const bool copied = IsDirectory(entries.GetInfo().dwFileAttributes)
                            ? EnsureDirectory(target)
                            : CopyFileChecked(entry, target);
    if (!copied)
      return false;
  }
  // A listing cut short would leave part of the tree behind unnoticed.
  return entries.error() == ERROR_SUCCESS;
}

}  // namespace

void ScopedFileCloser::operator()(FILE* file) const {
  if (file)
    fclose(file);
}

bool PathExists(const FilePath& path) {
  return ::GetFileAttributesW(Chars(path)) != INVALID_FILE_ATTRIBUTES;
}

bool DirectoryExists(const FilePath& path) {
  const DWORD attributes = ::GetFileAttributesW(Chars(path));
  return attributes != INVALID_FILE_ATTRIBUTES && IsDirectory(attributes);
}

bool IsPathWritable(const FilePath& path) {
  // Backup semantics let directories be opened too.
  win::ScopedHandle handle(::CreateFileW(
      Chars(path), FILE_WRITE_DATA,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle.IsValid();
}

bool GetFileInfo(const FilePath& path, File::Info* info) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(Chars(path), GetFileExInfoStandard, &data))
    return false;
  info->size =
      (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info->is_directory = IsDirectory(data.dwFileAttributes);
  info->is_symbolic_link = false;
  info->last_modified = Time::FromFileTime(data.ftLastWriteTime);
  info->last_accessed = Time::FromFileTime(data.ftLastAccessTime);
  info->creation_time = Time::FromFileTime(data.ftCreationTime);
  return true;
}

bool GetFileSize(const FilePath& path, int64_t* size) {
  File::Info info;
  if (!GetFileInfo(path, &info))
    return false;
  *size = info.size;
  return true;
}

FilePath MakeAbsoluteFilePath(const FilePath& path) {
  wchar_t buffer[MAX_PATH];
  if (!_wfullpath(buffer, Chars(path), MAX_PATH))
    return FilePath();
  return FilePath(buffer);
}

bool GetCurrentDirectory(FilePath* path) {
  wchar_t buffer[MAX_PATH];
  if (!FitsBuffer(::GetCurrentDirectoryW(MAX_PATH, buffer), MAX_PATH))
    return false;
  *path = FilePath(buffer).StripTrailingSeparators();
  return true;
}

bool GetTempDir(FilePath* path) {
  wchar_t buffer[MAX_PATH];
  if (!FitsBuffer(::GetTempPathW(MAX_PATH, buffer), MAX_PATH))
    return false;
  *path = FilePath(buffer).StripTrailingSeparators();
  return true;
}

FilePath GetHomeDir() {
  wchar_t buffer[MAX_PATH];
  if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr,
                                   SHGFP_TYPE_CURRENT, buffer)) &&
      buffer[0] != L'\0') {
    return FilePath(buffer);
  }
  FilePath temp;
  if (GetTempDir(&temp))
    return temp;
  return FilePath(kFallbackHomeDir);
}

bool CreateDirectoryAndGetError(const FilePath& path, FileError* error) {
  const DWORD attributes = ::GetFileAttributesW(Chars(path));
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (IsDirectory(attributes))
      return true;
    if (error)
      *error = FileError::kNotADirectory;
    return false;
  }
  const FilePath parent = path.DirName();
  if (parent.value() == path.value()) {
    if (error)
      *error = FileError::kNotFound;  // a root that does not exist
    return false;
  }
  if (!CreateDirectoryAndGetError(parent, error))
    return false;
  if (::CreateDirectoryW(Chars(path), nullptr))
    return true;
  const DWORD code = ::GetLastError();
  // Another process may have made it between the test and the creation.
  if (code == ERROR_ALREADY_EXISTS && DirectoryExists(path))
    return true;
  if (error)
    *error = File::OSErrorToFileError(code);
  return false;
}

bool CreateDirectory(const FilePath& path) {
  return CreateDirectoryAndGetError(path, nullptr);
}

bool CreateTemporaryFileInDir(const FilePath& dir, FilePath* path) {
  wchar_t created[MAX_PATH];
  if (!::GetTempFileNameW(Chars(dir), L"", 0, created))
    return false;
  wchar_t long_name[MAX_PATH];
  if (FitsBuffer(::GetLongPathNameW(created, long_name, MAX_PATH), MAX_PATH))
    *path = FilePath(long_name);
  else
    *path = FilePath(created);
  return true;
}

bool CreateTemporaryFile(FilePath* path) {
  FilePath temp_dir;
  return GetTempDir(&temp_dir) && CreateTemporaryFileInDir(temp_dir, path);
}

bool CopyFileChecked(const FilePath& from, const FilePath& to) {
  if (from.ReferencesParent() || to.ReferencesParent() || IsTooLong(from) ||
      IsTooLong(to)) {
    return false;
  }
  ::SetLastError(ERROR_SUCCESS);
  if (!::CopyFileW(Chars(from), Chars(to), FALSE)) {
    NameSilentCopyFailure(from, to);
    return false;
  }
  // A copy of a read-only file is read-only too, and the installer must be
  // able to replace or delete it later.
  const DWORD attributes = ::GetFileAttributesW(Chars(to));
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    ::SetFileAttributesW(Chars(to), attributes & ~FILE_ATTRIBUTE_READONLY);
  return true;
}

bool CopyFileIntoHandle(HANDLE from, HANDLE to) {
  constexpr DWORD kPieceSize = 1 << 20;
  FILE_BASIC_INFO basic = {};
  if (!::GetFileInformationByHandleEx(from, FileBasicInfo, &basic,
                                      sizeof(basic))) {
    return false;
  }
  std::vector<char> piece(kPieceSize);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(from, piece.data(), kPieceSize, &read, nullptr))
      return false;
    if (read == 0)
      break;
    DWORD written = 0;
    if (!::WriteFile(to, piece.data(), read, &written, nullptr))
      return false;
    if (written != read) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
  }
  basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
  if (basic.FileAttributes == 0)
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  basic.ChangeTime.QuadPart = 0;
  return ::SetFileInformationByHandle(to, FileBasicInfo, &basic,
                                      sizeof(basic)) != FALSE;
}

bool CopyDirectory(const FilePath& from, const FilePath& to) {
  if (IsTooLong(from) || IsTooLong(to))
    return false;
  const FilePath real_to =
      MakeAbsoluteFilePath(PathExists(to) ? to : to.DirName());
  const FilePath real_from = MakeAbsoluteFilePath(from);
  if (real_to.empty() || real_from.empty())
    return false;
  // A copy into its own subtree would feed on itself.
  if (IsSameOrParentIgnoringCase(real_from, real_to))
    return false;
  const DWORD attributes = ::GetFileAttributesW(Chars(real_from));
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  const FilePath base = DirectoryExists(to) ? real_from.DirName() : real_from;
  if (IsDirectory(attributes))
    return CopyTree(real_from, base, to);
  FilePath target;
  return CopyTargetFor(real_from, base, to, &target) &&
         CopyFileChecked(real_from, target);
}

bool MovePath(const FilePath& from, const FilePath& to) {
  if (from.ReferencesParent() || to.ReferencesParent())
    return false;
  return MovePathUnchecked(from, to);
}

// The file's index on its volume. GetFileInformationByHandle and FileIdInfo
// also read the volume's serial number, which Wine asks its mount manager
// for, in another process, on each call: at one call per deleted file the
// deletion waited on that process more than it worked.
std::optional<uint64_t> ReadFileIndex(HANDLE handle) {
  using QueryFunction = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG,
                                     ULONG);
  constexpr ULONG kFileInternalInformation = 6;
  static const QueryFunction query = reinterpret_cast<QueryFunction>(
      reinterpret_cast<void*>(::GetProcAddress(
          ::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  IO_STATUS_BLOCK status_block = {};
  LARGE_INTEGER index = {};
  if (!query) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return std::nullopt;
  }
  const LONG status = query(handle, &status_block, &index, sizeof(index),
                            kFileInternalInformation);
  if (status < 0) {
    ::SetLastError(ERROR_GEN_FAILURE);
    return std::nullopt;
  }
  return static_cast<uint64_t>(index.QuadPart);
}

bool RenameHeldFile(HANDLE file, const FilePath& to) {
  // The native layer takes the target as an NT path.
  constexpr std::wstring_view kLongPathPrefix = L"\\\\?\\";
  std::wstring name = to.value();
  if (name.starts_with(kLongPathPrefix))
    name.erase(0, kLongPathPrefix.size());
  else if (name.starts_with(L"\\\\"))
    name = L"UNC" + name.substr(1);
  name = L"\\??\\" + name;
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                    name.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::copy(name.begin(), name.end(), rename->FileName);
  return ::SetFileInformationByHandle(file, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())) !=
         FALSE;
}

bool RenameIntoFolder(HANDLE file,
                      HANDLE folder,
                      std::wstring_view name,
                      bool replace) {
  using SetInformationFunction =
      LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG);
  using StatusToErrorFunction = ULONG(NTAPI*)(LONG);
  constexpr ULONG kFileRenameInformation = 10;
  static const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  static const auto set_information = reinterpret_cast<SetInformationFunction>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtSetInformationFile")));
  static const auto to_error =
      reinterpret_cast<StatusToErrorFunction>(reinterpret_cast<void*>(
          ::GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  if (!set_information || !to_error) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  // Straight to the native call: the documented wrapper may make a full
  // path of a single name, which would leave the folder's handle unread.
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                    name.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace;
  rename->RootDirectory = folder;
  rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::copy(name.begin(), name.end(), rename->FileName);
  IO_STATUS_BLOCK status_block = {};
  const LONG status = set_information(file, &status_block, rename,
                                      static_cast<ULONG>(buffer.size()),
                                      kFileRenameInformation);
  if (status < 0) {
    ::SetLastError(to_error(status));
    return false;
  }
  return true;
}

win::ScopedHandle OpenFolderAtFinalPath(const FilePath& final_path) {
  win::ScopedHandle folder(::CreateFileW(
      Chars(final_path),
      FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.IsValid())
    return folder;
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!::GetFileInformationByHandleEx(folder.Get(), FileAttributeTagInfo, &tag,
                                      sizeof(tag)) ||
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      FilePath::CompareIgnoreCase(
          FilePath(GetFinalPath(folder.Get(), final_path.value())),
          final_path) != 0) {
    ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return win::ScopedHandle();
  }
  return folder;
}

bool MovePathUnchecked(const FilePath& from, const FilePath& to) {
  if (IsTooLong(from) || IsTooLong(to))
    return false;
  if (::MoveFileExW(Chars(from), Chars(to),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    return true;
  }
  const DWORD move_error = ::GetLastError();
  // MoveFileExW copies files across volumes but not directories.
  if (DirectoryExists(from) && CopyDirectory(from, to) &&
      DeletePath(from, true)) {
    return true;
  }
  ::SetLastError(move_error);
  return false;
}

bool ReplaceFile(const FilePath& from, const FilePath& to) {
  // A plain rename succeeds when the destination does not exist.
  if (::MoveFileW(Chars(from), Chars(to)))
    return true;
  // Classified for its counting of unknown codes only.
  File::OSErrorToFileError(::GetLastError());
  return ::ReplaceFileW(Chars(to), Chars(from), nullptr,
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                        nullptr) != FALSE;
}

bool DeletePath(const FilePath& path, bool recursive) {
  if (path.empty())
    return true;
  if (IsTooLong(path))
    return false;
  const FilePath base_name = path.BaseName();
  if (base_name.value().find_first_of(kWildcards) != std::wstring::npos)
    return DeleteMatchingEntries(path.DirName(), base_name.value(), recursive);
  // Only a path that is not there counts as deleted; access denied or a
  // sharing violation leaves the file in place.
  return DeleteResolvedEntry(
      path, ResolvedEntry::Resolve(path, ResolvedEntry::Purpose::kToDelete),
      L"*", recursive);
}

bool DeletePathOnceReleased(const FilePath& path,
                            bool recursive,
                            int tries,
                            DWORD pause_ms) {
  for (int tried = 1;; ++tried) {
    if (DeletePath(path, recursive))
      return true;
    if (tried >= tries)
      return false;
    ::Sleep(PauseAfterDeleteTry(tried, pause_ms));
  }
}

DWORD PauseAfterDeleteTry(int tried, DWORD pause_ms) {
  uint64_t pause = std::max<DWORD>(pause_ms / 8, 1);
  for (int doubled = 1; doubled < tried && pause < pause_ms; ++doubled)
    pause *= 2;
  return static_cast<DWORD>(std::min<uint64_t>(pause, pause_ms));
}

bool DeleteMatchingEntries(const FilePath& dir,
                           WideStringSlice pattern,
                           bool recursive) {
  const FilePath dir_final_path = ResolvedEntry::GetFinalPath(dir);
  if (dir_final_path.empty()) {
    // Nothing there matches.
    return IsNotFoundError(::GetLastError());
  }
  return DeleteMatchingEntriesIn(dir, dir_final_path, pattern, recursive);
}

int ReadFileToBuffer(const FilePath& path, char* data, int max_size) {
  if (max_size < 0)
    return -1;
  win::ScopedHandle file(::CreateFileW(
      Chars(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  DWORD read = 0;
  if (!file.IsValid() ||
      !::ReadFile(file.Get(), data, max_size, &read, nullptr))
    return -1;
  return static_cast<int>(read);
}

int WriteBufferToFile(const FilePath& path, const char* data, int size) {
  if (size < 0)
    return -1;
  win::ScopedHandle file(::CreateFileW(Chars(path), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, 0, nullptr));
  if (!file.IsValid())
    return -1;
  DWORD written = 0;
  ::SetLastError(ERROR_SUCCESS);
  if (!::WriteFile(file.Get(), data, size, &written, nullptr) ||
      written != static_cast<DWORD>(size)) {
    NameSilentWriteFailure(path, size - static_cast<int64_t>(written));
    return -1;
  }
  return size;
}

bool AppendToFile(const FilePath& path, const char* data, int size) {
  if (size < 0)
    return false;
  win::ScopedHandle file(::CreateFileW(Chars(path), FILE_APPEND_DATA, 0,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) {
    VPLOG_WITH_CODE(1, ::GetLastError())
        << "CreateFile failed for path " << path.AsUTF8();
    return false;
  }
  DWORD written = 0;
  if (!::WriteFile(file.Get(), data, size, &written, nullptr)) {
    VPLOG_WITH_CODE(1, ::GetLastError())
        << "Writing file " << path.AsUTF8() << " failed";
    return false;
  }
  if (written != static_cast<DWORD>(size)) {
    VPLOG_WITH_CODE(1, ::GetLastError())
        << "Only wrote " << written << " out of " << size << " byte(s) to "
        << path.AsUTF8();
    return false;
  }
  return true;
}

ScopedFILE OpenFileForReading(const FilePath& path) {
  // "N": not inherited by child processes.
  return ScopedFILE(_wfsopen(Chars(path), L"rbN", _SH_DENYNO));
}

bool ReadFileToStringWithMaxSize(const FilePath& path,
                                 std::string* contents,
                                 size_t max_size) {
  if (contents)
    contents->clear();
  if (path.ReferencesParent())
    return false;
  ScopedFILE file = OpenFileForReading(path);
  if (!file)
    return false;
  std::vector<char> chunk(kReadChunkSize);
  size_t total = 0;
  for (;;) {
    const size_t read = fread(chunk.data(), 1, chunk.size(), file.get());
    if (read == 0)
      return ferror(file.get()) == 0;
    const size_t kept = std::min(read, max_size - total);
    if (contents)
      contents->append(chunk.data(), kept);
    total += kept;
    if (kept < read)
      return false;
  }
}

bool ReadFileToString(const FilePath& path, std::string* contents) {
  return ReadFileToStringWithMaxSize(path, contents, SIZE_MAX);
}

}  // namespace base
