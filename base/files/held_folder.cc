#include "base/files/held_folder.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <string>
#include <utility>

#include "base/files/file_util.h"
#include "base/files/final_path.h"
#include "base/win/inherited_security.h"

namespace base {

namespace {

using NtCreateFileFunction = LONG(NTAPI*)(HANDLE*,
                                          ACCESS_MASK,
                                          OBJECT_ATTRIBUTES*,
                                          IO_STATUS_BLOCK*,
                                          LARGE_INTEGER*,
                                          ULONG,
                                          ULONG,
                                          ULONG,
                                          ULONG,
                                          void*,
                                          ULONG);
using StatusToErrorFunction = ULONG(NTAPI*)(LONG);

constexpr ULONG kObjCaseInsensitive = 0x40;
// What the NT call's result information says of a create.
constexpr DWORD kFileCreated = 2;

// Held against renaming and deletion: either needs DELETE access, which no
// one gets while this handle shares no deletion. Writing inside stays open.
constexpr DWORD kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The entry itself, never what a link at its name leads to.
constexpr DWORD kFolderOptions = FILE_DIRECTORY_FILE |
                                 FILE_SYNCHRONOUS_IO_NONALERT |
                                 FILE_OPEN_REPARSE_POINT;
constexpr DWORD kFileOptions = FILE_NON_DIRECTORY_FILE |
                               FILE_SYNCHRONOUS_IO_NONALERT |
                               FILE_OPEN_REPARSE_POINT;
// A probe whose name is taken (another process probing) tries the next.
constexpr int kProbeNameTries = 8;
// Larger than a file's usual descriptor (owner, group, a few entries).
constexpr size_t kSecurityFirstSize = 512;
constexpr std::wstring_view kWildcardsAndSeparators = L"\\/:*?\"<>|";
// What FILE_BASIC_INFO may set; the others describe the entry's kind.
constexpr DWORD kSettableAttributes =
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_TEMPORARY;
// Room for a few hundred names per request.
constexpr DWORD kListingBufferSize = 64 * 1024;
// A path inside a volume as long as the system allows.
constexpr DWORD kNameBufferSize =
    sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t);

template <typename Function>
Function NtFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

void SetErrorFromStatus(LONG status) {
  static const auto to_error =
      NtFunction<StatusToErrorFunction>("RtlNtStatusToDosError");
  ::SetLastError(to_error ? to_error(status) : ERROR_GEN_FAILURE);
}

bool IsDriveLetter(wchar_t letter) {
  return (letter >= L'A' && letter <= L'Z') ||
         (letter >= L'a' && letter <= L'z');
}

bool EqualsIgnoringCase(std::wstring_view left, std::wstring_view right) {
  return !left.empty() &&
         ::CompareStringOrdinal(left.data(), static_cast<int>(left.size()),
                                right.data(), static_cast<int>(right.size()),
                                TRUE) == CSTR_EQUAL;
}

win::ScopedHandle OpenVolumeRoot(wchar_t drive) {
  const std::wstring root = std::wstring(1, drive) + L":\\";
  return win::ScopedHandle(::CreateFileW(
      root.c_str(), kFolderAccess, kFolderSharing, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

std::wstring ProbeName(std::wstring_view kind, int attempt) {
  return L"~new_" + std::wstring(kind) + L"_security_" +
         std::to_wstring(::GetCurrentProcessId()) + L"_" +
         std::to_wstring(attempt) + L".tmp";
}

PSID OwnerOf(const std::vector<unsigned char>& descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (descriptor.empty() ||
      !::GetSecurityDescriptorOwner(
          const_cast<unsigned char*>(descriptor.data()), &owner, &defaulted)) {
    return nullptr;
  }
  return owner;
}

}  // namespace

HeldFolder::HeldFolder(Key,
                       Ref parent,
                       win::ScopedHandle handle,
                       FilePath path)
    : parent_(std::move(parent)),
      handle_(std::move(handle)),
      path_(std::move(path)) {}

HeldFolder::~HeldFolder() = default;

// static
HeldFolder::Ref HeldFolder::Open(const FilePath& path) {
  const std::wstring& value = path.value();
  if (value.size() < 2 || !IsDriveLetter(value[0]) || value[1] != L':' ||
      (value.size() > 2 && value[2] != L'\\')) {
    ::SetLastError(ERROR_BAD_PATHNAME);
    return nullptr;
  }
  win::ScopedHandle root = OpenVolumeRoot(value[0]);
  if (!root.IsValid())
    return nullptr;
  Ref folder = std::make_shared<HeldFolder>(Key(), nullptr, std::move(root),
                                            FilePath(value.substr(0, 2)));
  // Each level from the top down, so that a folder is held before the next
  // one's place in it is looked at.
  for (size_t start = 3; start < value.size();) {
    size_t end = value.find(L'\\', start);
    if (end == std::wstring::npos)
      end = value.size();
    folder = folder->OpenSubfolder(
        std::wstring_view(value).substr(start, end - start), false);
    if (!folder)
      return nullptr;
    start = end + 1;
  }
  return folder;
}

// static
bool HeldFolder::IsSingleName(std::wstring_view name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(kWildcardsAndSeparators) ==
             std::wstring_view::npos &&
         name.back() != L'.' && name.back() != L' ';
}

win::ScopedHandle HeldFolder::Reopen(DWORD access) const {
  if (!parent_) {
    ::SetLastError(ERROR_INVALID_FUNCTION);
    return win::ScopedHandle();
  }
  const std::wstring name = path_.BaseName().value();
  // Sharing deletion with this folder's own handle, which has delete
  // access when this process made it.
  win::ScopedHandle handle = OpenRelative(
      parent_->handle(), name, access,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
      kFolderOptions, nullptr);
  if (handle.IsValid() &&
      !parent_->HoldsEntry(handle.Get(), name, /*folder=*/true)) {
    ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return win::ScopedHandle();
  }
  return handle;
}

// static
win::ScopedHandle HeldFolder::OpenRelative(HANDLE parent,
                                           std::wstring_view name,
                                           DWORD access,
                                           DWORD sharing,
                                           DWORD disposition,
                                           DWORD options,
                                           DWORD* result_information) {
  static const auto create = NtFunction<NtCreateFileFunction>("NtCreateFile");
  if (!create) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return win::ScopedHandle();
  }
  if (!IsSingleName(name)) {
    ::SetLastError(ERROR_INVALID_NAME);
    return win::ScopedHandle();
  }
  std::wstring buffer(name);
  UNICODE_STRING object_name = {};
  object_name.Buffer = buffer.data();
  object_name.Length = static_cast<USHORT>(buffer.size() * sizeof(wchar_t));
  object_name.MaximumLength = object_name.Length;
  OBJECT_ATTRIBUTES attributes = {};
  attributes.Length = sizeof(attributes);
  attributes.RootDirectory = parent;
  attributes.ObjectName = &object_name;
  attributes.Attributes = kObjCaseInsensitive;
  IO_STATUS_BLOCK status_block = {};
  HANDLE handle = nullptr;
  const LONG status =
      create(&handle, access | SYNCHRONIZE, &attributes, &status_block,
             nullptr, FILE_ATTRIBUTE_NORMAL, sharing, disposition, options,
             nullptr, 0);
  if (status < 0) {
    SetErrorFromStatus(status);
    return win::ScopedHandle();
  }
  if (result_information)
    *result_information = static_cast<DWORD>(status_block.Information);
  return win::ScopedHandle(handle);
}

bool HeldFolder::HoldsEntry(HANDLE handle,
                            std::wstring_view name,
                            bool folder) const {
  return IsPlainKind(handle, folder) && LiesAt(handle, name);
}

// static
bool HeldFolder::IsPlainKind(HANDLE entry, bool folder) {
  // Not GetFileInformationByHandle: its volume query is a round trip to
  // Wine's mount manager, for every entry.
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  FILE_STANDARD_INFO standard = {};
  if (!::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag,
                                      sizeof(tag)) ||
      !::GetFileInformationByHandleEx(entry, FileStandardInfo, &standard,
                                      sizeof(standard))) {
    return false;
  }
  return !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (standard.Directory != FALSE) == folder &&
         (folder || standard.NumberOfLinks == 1);
}

bool HeldFolder::LiesAt(HANDLE handle, std::wstring_view name) const {
  // Wine opens what a link leads to whatever the options say, and shows it
  // as plain: only the handle's own path tells.
  const std::wstring expected = path_.value() + L'\\' + std::wstring(name);
  return EqualsIgnoringCase(GetFinalPath(handle, expected), expected);
}

HeldFolder::Ref HeldFolder::OpenSubfolder(std::wstring_view name,
                                          bool create,
                                          bool* made) const {
  DWORD information = 0;
  win::ScopedHandle handle;
  if (create) {
    // Made with delete access, for a rollback to take it away through it.
    handle =
        OpenRelative(handle_.Get(), name, kFolderAccess | DELETE,
                     kFolderSharing, FILE_CREATE, kFolderOptions, &information);
    if (!handle.IsValid() && ::GetLastError() != ERROR_ALREADY_EXISTS &&
        ::GetLastError() != ERROR_FILE_EXISTS) {
      return nullptr;
    }
  }
  if (!handle.IsValid()) {
    handle = OpenRelative(handle_.Get(), name, kFolderAccess, kFolderSharing,
                          FILE_OPEN, kFolderOptions, &information);
  }
  if (!handle.IsValid())
    return nullptr;
  if (made)
    *made = information == kFileCreated;
  if (!HoldsEntry(handle.Get(), name, /*folder=*/true)) {
    ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return nullptr;
  }
  return std::make_shared<HeldFolder>(
      Key(), shared_from_this(), std::move(handle),
      FilePath(path_.value() + L'\\' + std::wstring(name)));
}

win::ScopedHandle HeldFolder::CreateNewFile(std::wstring_view name,
                                            DWORD access,
                                            DWORD sharing) const {
  // A new file lies where it was made: no link can be followed by a create
  // that refuses every existing name.
  return OpenRelative(handle_.Get(), name, access, sharing, FILE_CREATE,
                      kFileOptions, nullptr);
}

win::ScopedHandle HeldFolder::OpenPlainFile(std::wstring_view name,
                                            DWORD access,
                                            DWORD sharing) const {
  bool is_folder = false;
  win::ScopedHandle file = OpenEntry(name, access, sharing, &is_folder);
  FILE_STANDARD_INFO standard = {};
  if (file.IsValid() &&
      (is_folder ||
       !::GetFileInformationByHandleEx(file.Get(), FileStandardInfo, &standard,
                                       sizeof(standard)) ||
       standard.NumberOfLinks != 1)) {
    ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return win::ScopedHandle();
  }
  return file;
}

win::ScopedHandle HeldFolder::OpenEntry(std::wstring_view name,
                                        DWORD access,
                                        DWORD sharing,
                                        bool* is_folder) const {
  win::ScopedHandle entry = OpenRelative(
      handle_.Get(), name, access | FILE_READ_ATTRIBUTES, sharing, FILE_OPEN,
      FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr);
  if (!entry.IsValid()) {
    if (::GetLastError() == ERROR_PATH_NOT_FOUND)
      ::SetLastError(ERROR_FILE_NOT_FOUND);
    return entry;
  }
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!::GetFileInformationByHandleEx(entry.Get(), FileAttributeTagInfo, &tag,
                                      sizeof(tag))) {
    return win::ScopedHandle();
  }
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !LiesAt(entry.Get(), name)) {
    ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return win::ScopedHandle();
  }
  *is_folder = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return entry;
}

bool HeldFolder::RemoveEntry(std::wstring_view name, bool recursive) const {
  if (recursive) {
    // Emptied while held as itself; let go before the deletion, which
    // needs the delete access the held handle shares with no one, and
    // judges the name again.
    const Ref folder = OpenSubfolder(name, false);
    if (folder && !folder->RemoveAllEntries())
      return false;
  }
  const win::ScopedHandle entry = OpenRelative(
      handle_.Get(), name,
      DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
      FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr);
  if (!entry.IsValid()) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  FILE_BASIC_INFO basic = {};
  if (!::GetFileInformationByHandleEx(entry.Get(), FileBasicInfo, &basic,
                                      sizeof(basic))) {
    return false;
  }
  // A link opened as itself goes as itself. One the system followed shows
  // as what it leads to, which a deletion through this handle would take.
  if (!(basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      !LiesAt(entry.Get(), name)) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
    FILE_BASIC_INFO writable = {};  // zero times: left as they are
    writable.FileAttributes = basic.FileAttributes & kSettableAttributes;
    if (writable.FileAttributes == 0)
      writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(entry.Get(), FileBasicInfo, &writable,
                                      sizeof(writable))) {
      return false;
    }
  }
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(entry.Get(), FileDispositionInfo,
                                      &disposition, sizeof(disposition)) !=
         FALSE;
}

// static
bool HeldFolder::RemovePath(const FilePath& path, bool recursive) {
  const Ref folder = Open(path.DirName());
  if (!folder) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  return folder->RemoveEntry(path.BaseName().value(), recursive);
}

bool HeldFolder::ListNames(std::vector<std::wstring>* names) const {
  // Aligned for the records the buffer holds.
  std::vector<ULONGLONG> buffer(kListingBufferSize / sizeof(ULONGLONG));
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;;
       kind = FileIdBothDirectoryInfo) {
    if (!::GetFileInformationByHandleEx(handle_.Get(), kind, buffer.data(),
                                        kListingBufferSize)) {
      return ::GetLastError() == ERROR_NO_MORE_FILES;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (size_t offset = 0;;) {
      const auto* record =
          reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
      const std::wstring_view name(record->FileName,
                                   record->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..")
        names->emplace_back(name);
      if (record->NextEntryOffset == 0)
        break;
      offset += record->NextEntryOffset;
    }
  }
}

bool HeldFolder::RemoveAllEntries() const {
  // Listed whole first: a listing read on while its entries go may skip
  // some.
  std::vector<std::wstring> names;
  if (!ListNames(&names))
    return false;
  return std::all_of(names.begin(), names.end(),
                     [this](const std::wstring& name) {
                       return RemoveEntry(name, /*recursive=*/true);
                     });
}

bool HeldFolder::MoveInto(HANDLE file, std::wstring_view name) const {
  if (!IsSingleName(name)) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  return RenameIntoFolder(file, handle_.Get(), name);
}

// static
std::vector<unsigned char> HeldFolder::ReadSecurity(HANDLE handle) {
  constexpr SECURITY_INFORMATION kParts = OWNER_SECURITY_INFORMATION |
                                          GROUP_SECURITY_INFORMATION |
                                          DACL_SECURITY_INFORMATION;
  // A file's descriptor fits as a rule: one request each, not one for its
  // size first (each is a round trip to the system, for every file moved).
  std::vector<unsigned char> descriptor(kSecurityFirstSize);
  DWORD size = 0;
  if (::GetKernelObjectSecurity(handle, kParts, descriptor.data(),
                                static_cast<DWORD>(descriptor.size()),
                                &size)) {
    descriptor.resize(::GetSecurityDescriptorLength(descriptor.data()));
    return descriptor;
  }
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
    return {};
  descriptor.resize(size);
  if (!::GetKernelObjectSecurity(handle, kParts, descriptor.data(), size,
                                 &size)) {
    descriptor.clear();
  }
  return descriptor;
}

// static
DWORD HeldFolder::GiveSecurity(HANDLE file,
                               const std::vector<unsigned char>& security) {
  if (security.empty())
    return ERROR_INVALID_SECURITY_DESCR;
  return GiveSecurity(file, security, ReadSecurity(file));
}

// static
DWORD HeldFolder::GiveSecurity(HANDLE file,
                               const std::vector<unsigned char>& security,
                               const std::vector<unsigned char>& current) {
  if (security.empty())
    return ERROR_INVALID_SECURITY_DESCR;
  SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION;
  // The owner only where it differs: setting even the same one asks for
  // WRITE_OWNER, which a file's maker need not hold.
  const PSID owner = OwnerOf(security);
  const PSID current_owner = OwnerOf(current);
  if (owner && !(current_owner && ::EqualSid(owner, current_owner)))
    parts |= OWNER_SECURITY_INFORMATION;
  return ::SetKernelObjectSecurity(
             file, parts, const_cast<unsigned char*>(security.data()))
             ? ERROR_SUCCESS
             : ::GetLastError();
}

const std::vector<unsigned char>& HeldFolder::NewFileSecurity() const {
  if (new_file_security_.empty()) {
    const win::ScopedHandle probe = MakeProbe(handle_.Get(), /*folder=*/false);
    if (probe.IsValid())
      new_file_security_ = ReadSecurity(probe.Get());
  }
  return new_file_security_;
}

// static
std::vector<HeldFolder::NewEntrySecurity> HeldFolder::NewTreeSecurity(
    HANDLE folder,
    size_t levels) {
  // The same folder again, with the right to read its list: a held one is
  // held without it, and is shared with whoever may delete it.
  const win::ScopedHandle readable(
      ::ReOpenFile(folder, READ_CONTROL,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   FILE_FLAG_BACKUP_SEMANTICS));
  std::vector<unsigned char> parent =
      readable.IsValid() ? ReadSecurity(readable.Get())
                         : std::vector<unsigned char>();
  const std::vector<unsigned char> creator = win::ReadCreatorSecurity();
  std::vector<NewEntrySecurity> security;
  while (!parent.empty() && security.size() < levels) {
    NewEntrySecurity level;
    level.file = win::InheritedSecurity(parent, /*folder=*/false, creator);
    level.folder = win::InheritedSecurity(parent, /*folder=*/true, creator);
    if (level.file.empty() || level.folder.empty())
      return {};
    parent = level.folder;
    security.push_back(std::move(level));
  }
  if (security.size() < levels)
    return {};
  return security;
}

// static
win::ScopedHandle HeldFolder::MakeProbe(HANDLE parent,
                                        bool folder,
                                        DWORD more_access) {
  const DWORD access = READ_CONTROL | DELETE | more_access;
  for (int attempt = 1; attempt <= kProbeNameTries; ++attempt) {
    win::ScopedHandle probe =
        folder ? OpenRelative(parent, ProbeName(L"folder", attempt),
                              access | FILE_TRAVERSE | FILE_ADD_FILE |
                                  FILE_ADD_SUBDIRECTORY,
                              0, FILE_CREATE,
                              kFolderOptions | FILE_DELETE_ON_CLOSE, nullptr)
               : OpenRelative(parent, ProbeName(L"file", attempt),
                              access, 0, FILE_CREATE,
                              kFileOptions | FILE_DELETE_ON_CLOSE, nullptr);
    if (probe.IsValid() || (::GetLastError() != ERROR_FILE_EXISTS &&
                            ::GetLastError() != ERROR_ALREADY_EXISTS)) {
      return probe;
    }
  }
  return win::ScopedHandle();
}

// static
win::ScopedHandle HeldFolder::OpenEntryIn(HANDLE parent,
                                          std::wstring_view name,
                                          bool folder,
                                          DWORD access,
                                          DWORD sharing) {
  return OpenRelative(parent, name, access, sharing, FILE_OPEN,
                      folder ? kFolderOptions : kFileOptions, nullptr);
}

// static
std::wstring HeldFolder::PathInVolume(HANDLE handle) {
  // Aligned for the record the buffer holds.
  std::vector<ULONGLONG> buffer(kNameBufferSize / sizeof(ULONGLONG));
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  if (!::GetFileInformationByHandleEx(handle, FileNameInfo, info,
                                      kNameBufferSize)) {
    return std::wstring();
  }
  return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

// static
bool HeldFolder::IsPlainEntryAt(HANDLE entry,
                                std::wstring_view path_in_volume,
                                bool folder) {
  return IsPlainKind(entry, folder) &&
         EqualsIgnoringCase(PathInVolume(entry), path_in_volume);
}

bool HeldFolder::RemoveWhenReleased() const {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(handle_.Get(), FileDispositionInfo,
                                      &disposition, sizeof(disposition)) !=
         FALSE;
}

}  // namespace base
