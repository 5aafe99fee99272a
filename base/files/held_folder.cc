#include "base/files/held_folder.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <string>
#include <utility>

#include "base/files/file_util.h"
#include "base/files/final_path.h"

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

std::wstring ProbeName(int attempt) {
  return L"~new_file_security_" + std::to_wstring(::GetCurrentProcessId()) +
         L"_" + std::to_wstring(attempt) + L".tmp";
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

// static
win::ScopedHandle HeldFolder::OpenRelative(const HeldFolder* parent,
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
  attributes.RootDirectory = parent->handle();
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
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  FILE_STANDARD_INFO standard = {};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag,
                                      sizeof(tag)) ||
      !::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard,
                                      sizeof(standard))) {
    return false;
  }
  const bool is_folder = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      is_folder != folder || (!folder && standard.NumberOfLinks != 1)) {
    return false;
  }
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
    handle = OpenRelative(this, name, kFolderAccess | DELETE, kFolderSharing,
                          FILE_CREATE, kFolderOptions, &information);
    if (!handle.IsValid() && ::GetLastError() != ERROR_ALREADY_EXISTS &&
        ::GetLastError() != ERROR_FILE_EXISTS) {
      return nullptr;
    }
  }
  if (!handle.IsValid()) {
    handle = OpenRelative(this, name, kFolderAccess, kFolderSharing, FILE_OPEN,
                          kFolderOptions, &information);
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
  return OpenRelative(this, name, access, sharing, FILE_CREATE, kFileOptions,
                      nullptr);
}

win::ScopedHandle HeldFolder::OpenPlainFile(std::wstring_view name,
                                            DWORD access,
                                            DWORD sharing) const {
  win::ScopedHandle file = OpenRelative(
      this, name, access | FILE_READ_ATTRIBUTES, sharing, FILE_OPEN,
      FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr);
  if (!file.IsValid()) {
    if (::GetLastError() == ERROR_PATH_NOT_FOUND)
      ::SetLastError(ERROR_FILE_NOT_FOUND);
    return file;
  }
  if (!HoldsEntry(file.Get(), name, /*folder=*/false)) {
    ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return win::ScopedHandle();
  }
  return file;
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
  SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION;
  // The owner only where it differs: setting even the same one asks for
  // WRITE_OWNER, which a file's maker need not hold.
  const PSID owner = OwnerOf(security);
  const std::vector<unsigned char> current_security = ReadSecurity(file);
  const PSID current = OwnerOf(current_security);
  if (owner && !(current && ::EqualSid(owner, current)))
    parts |= OWNER_SECURITY_INFORMATION;
  return ::SetKernelObjectSecurity(
             file, parts, const_cast<unsigned char*>(security.data()))
             ? ERROR_SUCCESS
             : ::GetLastError();
}

const std::vector<unsigned char>& HeldFolder::NewFileSecurity() const {
  if (!new_file_security_.empty())
    return new_file_security_;
  for (int attempt = 1; attempt <= kProbeNameTries; ++attempt) {
    const win::ScopedHandle probe = OpenRelative(
        this, ProbeName(attempt), READ_CONTROL | DELETE, 0, FILE_CREATE,
        kFileOptions | FILE_DELETE_ON_CLOSE, nullptr);
    if (probe.IsValid()) {
      new_file_security_ = ReadSecurity(probe.Get());
      break;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  return new_file_security_;
}

bool HeldFolder::RemoveWhenReleased() const {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(handle_.Get(), FileDispositionInfo,
                                      &disposition, sizeof(disposition)) !=
         FALSE;
}

}  // namespace base
