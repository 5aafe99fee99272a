#include "base/files/resolved_entry.h"


#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/final_path.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsNotFoundError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// With attribute access alone no sharing mode of another opener refuses
// the open, so a file in use is judged like any other.
win::ScopedHandle OpenForJudging(const FilePath& path,
                                 DWORD flags,
                                 DWORD extra_access = 0) {
  return win::ScopedHandle(::CreateFileW(
      path.value().c_str(), FILE_READ_ATTRIBUTES | extra_access, kShareAll,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
}

// What FILE_BASIC_INFO may set; the others describe the entry's kind.
constexpr DWORD kSettableAttributes =
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_TEMPORARY;

// Links resolved; read by the name the handle was opened by, which tells
// the volume where Wine cannot give a long path whole.
FilePath GetFinalPathOfHandle(HANDLE handle, const FilePath& opened_as) {
  return FilePath(base::GetFinalPath(handle, opened_as.value()));
}

bool IsSameName(const FilePath& a, const FilePath& b) {
  return FilePath::CompareIgnoreCase(a, b) == 0;
}

}  // namespace

// static
ResolvedEntry ResolvedEntry::Resolve(const FilePath& path, Purpose purpose) {
  const FilePath folder = path.StripTrailingSeparators().DirName();
  const FilePath folder_final = GetFinalPath(folder);
  if (folder_final.empty()) {
    const DWORD error = ::GetLastError();
    return IsNotFoundError(error)
               ? ResolvedEntry(Kind::kMissing, path, 0, error)
               : ResolvedEntry(Kind::kUnknown, path, 0, error);
  }
  return ResolveIn(path, folder_final, purpose);
}

// static
ResolvedEntry ResolvedEntry::ResolveIn(const FilePath& path,
                                       const FilePath& folder_final_path,
                                       Purpose purpose) {
  const FilePath name = path.StripTrailingSeparators().BaseName();
  // A listing by a pattern would judge some other entry ('<', '>' and '"'
  // are wildcards to FindFirstFileW too).
  if (name.value().find_first_of(L"*?<>\"") != std::wstring::npos)
    return ResolvedEntry(Kind::kUnknown, path, 0, ERROR_INVALID_NAME);
  std::optional<ResolvedEntry> plain_file =
      ResolvePlainFileByHandle(path, folder_final_path, name, purpose);
  if (plain_file)
    return std::move(*plain_file);
  WIN32_FIND_DATAW listed;
  const HANDLE find =
      ::FindFirstFileW(path.StripTrailingSeparators().value().c_str(), &listed);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return IsNotFoundError(error)
               ? ResolvedEntry(Kind::kMissing,
                               folder_final_path.Append(name.value()), 0, error)
               : ResolvedEntry(Kind::kUnknown, path, 0, error);
  }
  ::FindClose(find);
  return ResolveListed(path, folder_final_path, listed, purpose);
}

// static
std::optional<ResolvedEntry> ResolvedEntry::ResolvePlainFileByHandle(
    const FilePath& path,
    const FilePath& folder_final_path,
    const FilePath& name,
    Purpose purpose) {
  // A stream's name is left to the listing, which refuses it.
  if (name.value().find(L':') != std::wstring::npos)
    return std::nullopt;
  win::ScopedHandle handle = OpenForJudging(
      path, FILE_FLAG_OPEN_REPARSE_POINT,
      purpose == Purpose::kToDelete ? DELETE | FILE_WRITE_ATTRIBUTES : 0);
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!handle.IsValid() ||
      !::GetFileInformationByHandleEx(handle.Get(), FileAttributeTagInfo, &tag,
                                      sizeof(tag)) ||
      (tag.FileAttributes &
       (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    return std::nullopt;
  }
  // Only where the name says, under that very name: a link Wine followed
  // lies elsewhere, and a short name gives the long one.
  const FilePath final_path = GetFinalPathOfHandle(handle.Get(), path);
  if (final_path.empty() ||
      !IsSameName(final_path.DirName(), folder_final_path) ||
      !IsSameName(final_path.BaseName(), name)) {
    return std::nullopt;
  }
  return ResolvedEntry(Kind::kPlain, final_path, tag.FileAttributes, 0,
                       purpose == Purpose::kToDelete ? std::move(handle)
                                                     : win::ScopedHandle());
}

// static
ResolvedEntry ResolvedEntry::ResolveListed(const FilePath& path,
                                           const FilePath& folder_final_path,
                                           const WIN32_FIND_DATAW& listed,
                                           Purpose purpose) {
  const DWORD attributes = listed.dwFileAttributes;
  const FilePath listed_path = folder_final_path.Append(listed.cFileName);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return ResolvedEntry(Kind::kLink, listed_path, attributes, 0);
  const bool to_delete =
      purpose == Purpose::kToDelete && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  win::ScopedHandle handle =
      OpenForJudging(path, FILE_FLAG_OPEN_REPARSE_POINT,
                     to_delete ? DELETE | FILE_WRITE_ATTRIBUTES : 0);
  if (!handle.IsValid()) {
    const DWORD error = ::GetLastError();
    // Listed, yet nothing there: a link whose target is gone.
    return IsNotFoundError(error)
               ? ResolvedEntry(Kind::kLink, listed_path, attributes, 0)
               : ResolvedEntry(Kind::kUnknown, path, attributes, error);
  }
  const FilePath final_path = GetFinalPathOfHandle(handle.Get(), path);
  if (final_path.empty()) {
    return ResolvedEntry(Kind::kUnknown, path, attributes, ::GetLastError());
  }
  // The handle is the listed entry only when it lies where the listing
  // found it, under the name found there (a short name lists the long one).
  if (IsSameName(final_path.DirName(), folder_final_path) &&
      IsSameName(final_path.BaseName(), FilePath(listed.cFileName))) {
    return ResolvedEntry(Kind::kPlain, final_path, attributes, 0,
                         to_delete ? std::move(handle) : win::ScopedHandle());
  }
  return ResolvedEntry(Kind::kLink, listed_path, attributes, 0);
}

// static
ResolvedEntry ResolvedEntry::ReopenJudgedFile(const FilePath& path,
                                              const FileId& id) {
  win::ScopedHandle handle =
      OpenForJudging(path, FILE_FLAG_OPEN_REPARSE_POINT,
                     DELETE | FILE_WRITE_ATTRIBUTES);
  if (!handle.IsValid()) {
    const DWORD error = ::GetLastError();
    return IsNotFoundError(error) ? ResolvedEntry(Kind::kMissing, path, 0, error)
                                  : ResolvedEntry(Kind::kUnknown, path, 0, error);
  }
  FILE_BASIC_INFO basic = {};
  const std::optional<uint64_t> index = ReadFileIndex(handle.Get());
  if (!index || !::GetFileInformationByHandleEx(handle.Get(), FileBasicInfo,
                                                &basic, sizeof(basic))) {
    return ResolvedEntry(Kind::kUnknown, path, 0, ::GetLastError());
  }
  const DWORD attributes = basic.FileAttributes;
  // A link opened as itself, or one Wine followed, is another file; so is
  // the same index in another folder, which may lie on another volume.
  if (*index != id.index ||
      (attributes &
       (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      !IsSameName(GetFinalPathOfHandle(handle.Get(), path).DirName(),
                  id.folder)) {
    return ResolvedEntry(Kind::kLink, path, attributes, 0);
  }
  return ResolvedEntry(Kind::kPlain, path, attributes, 0, std::move(handle));
}

std::optional<ResolvedEntry::FileId> ResolvedEntry::GetFileId() const {
  if (kind_ != Kind::kPlain || !handle_.IsValid())
    return std::nullopt;
  // The folder as judged: the final path of the handle, read then.
  const std::optional<uint64_t> index = ReadFileIndex(handle_.Get());
  if (!index)
    return std::nullopt;
  return FileId{path_.DirName(), *index};
}

bool ResolvedEntry::DeleteJudgedFile() {
  if (kind_ != Kind::kPlain || !handle_.IsValid()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (attributes_ & FILE_ATTRIBUTE_READONLY) {
    FILE_BASIC_INFO writable = {};  // zero times: leave them unchanged
    writable.FileAttributes = attributes_ & kSettableAttributes;
    if (writable.FileAttributes == 0)
      writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(handle_.Get(), FileBasicInfo, &writable,
                                      sizeof(writable))) {
      return false;
    }
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return ::SetFileInformationByHandle(handle_.Get(), FileDispositionInfo,
                                      &disposition,
                                      sizeof(disposition)) != FALSE;
}

bool ResolvedEntry::RenameJudgedFile(const FilePath& to) {
  if (kind_ != Kind::kPlain || !handle_.IsValid()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return RenameHeldFile(handle_.Get(), to);
}

bool ResolvedEntry::RenameJudgedFileInFolder(const FilePath& folder_final_path,
                                             std::wstring_view name,
                                             bool replace) {
  if (kind_ != Kind::kPlain || !handle_.IsValid()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const win::ScopedHandle folder = OpenFolderAtFinalPath(folder_final_path);
  return folder.IsValid() &&
         RenameIntoFolder(handle_.Get(), folder.Get(), name, replace);
}

// static
FilePath ResolvedEntry::GetFinalPath(const FilePath& path) {
  const win::ScopedHandle handle = OpenForJudging(path, 0);
  return handle.IsValid() ? GetFinalPathOfHandle(handle.Get(), path)
                          : FilePath();
}

}  // namespace base
