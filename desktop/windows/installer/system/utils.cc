#include "desktop/windows/installer/system/utils.h"

#include <windows.h>
#define SECURITY_WIN32
#include <secext.h>
#include <shlobj.h>
// <secext.h> maps the name onto GetUserNameExW; ours must keep its own.
#undef GetUserNameEx

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string_view>

#include "base/features/feature_tables.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_co_mem.h"
#include "base/win/scoped_handle.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/paths/device_name.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/paths/plain_share.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/system/process_elevation.h"

namespace installer {

namespace {

// GetUserNameW's limit: UNLEN + 1.
constexpr DWORD kMaxUserNameLength = 257;

// KF_FLAG_CREATE | KF_FLAG_INIT, for a known folder that may have to be made
// (the enum's operator| is not constexpr).
constexpr DWORD kKnownFolderCreateAndInit = 0x8800;
constexpr int kFolderCreateDontUnexpand =
    CSIDL_FLAG_CREATE | CSIDL_FLAG_DONT_UNEXPAND;

constexpr wchar_t kForbiddenNameCharacters[] = L"?\"<>*|:";

constexpr size_t kShortPathLimit = kMaxInstallPathLength + 1;
constexpr size_t kPathLimit = MAX_PATH;

std::atomic<AdminQuery> g_admin_query{nullptr};

bool IsProcessTokenAdmin(bool check_linked_token) {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE,
                          &raw_token)) {
    PLOG(ERROR) << "OpenProcessToken failed";
    return false;
  }
  base::win::ScopedHandle token(raw_token);
  if (check_linked_token &&
      base::win::GetWindowsVersion() >= base::win::kVersionVista) {
    TOKEN_ELEVATION_TYPE elevation_type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (::GetTokenInformation(token.Get(), TokenElevationType, &elevation_type,
                              sizeof(elevation_type), &size) &&
        elevation_type == TokenElevationTypeLimited) {
      TOKEN_LINKED_TOKEN linked = {};
      if (!::GetTokenInformation(token.Get(), TokenLinkedToken, &linked,
                                 sizeof(linked), &size)) {
        PLOG(ERROR) << "Reading the linked token failed";
        return false;
      }
      token.Set(linked.LinkedToken);
    }
  }
  return ProcessElevation::HoldsEnabled(token.Get(), WinBuiltinAdministratorsSid)
      .value_or(false);
}

using SHGetKnownFolderPathFunction = HRESULT(WINAPI*)(REFKNOWNFOLDERID,
                                                      DWORD,
                                                      HANDLE,
                                                      PWSTR*);

SHGetKnownFolderPathFunction FindSHGetKnownFolderPath() {
  HMODULE shell32 = ::GetModuleHandleW(L"shell32.dll");
  if (!shell32)
    return nullptr;
  return reinterpret_cast<SHGetKnownFolderPathFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(shell32, "SHGetKnownFolderPath")));
}

bool GetKnownFolderPathByGuid(SHGetKnownFolderPathFunction get_known_folder,
                              const GUID& folder_id,
                              base::FilePath* path,
                              bool create) {
  base::win::ScopedCoMem<wchar_t> folder;
  HRESULT result = get_known_folder(folder_id, 0, nullptr, folder.Receive());
  if (FAILED(result) && create) {
    result = get_known_folder(folder_id, kKnownFolderCreateAndInit, nullptr,
                              folder.Receive());
  }
  if (FAILED(result) || !folder.Get())
    return false;
  *path = base::FilePath(folder.Get());
  return true;
}

bool GetKnownFolderPathByCsidl(int csidl, base::FilePath* path, bool create) {
  wchar_t folder[MAX_PATH + 1] = {};
  HRESULT result = ::SHGetFolderPathW(nullptr, csidl, nullptr, 0, folder);
  if (FAILED(result) && result != E_INVALIDARG && create) {
    result = ::SHGetFolderPathW(nullptr, csidl | kFolderCreateDontUnexpand,
                                nullptr, 0, folder);
  }
  if (FAILED(result))
    return false;
  folder[MAX_PATH] = L'\0';
  *path = base::FilePath(folder);  // Cut at the first NUL.
  return true;
}

bool IsSameFile(const BY_HANDLE_FILE_INFORMATION& a,
                const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool IsShortcutTarget(const base::FilePath& resolved,
                      const base::FilePath& target,
                      const BY_HANDLE_FILE_INFORMATION* target_information) {
  if (base::FilePath::CompareIgnoreCase(resolved, target) == 0)
    return true;
  if (!target_information)
    return false;
  BY_HANDLE_FILE_INFORMATION resolved_information;
  return GetFileInformation(resolved, &resolved_information) &&
         IsSameFile(resolved_information, *target_information);
}

bool IsSeparator(wchar_t unit) {
  return unit == L'\\' || unit == L'/';
}

bool IsAsciiLetter(wchar_t unit) {
  return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z');
}

// Whether `path` has "X:\" at `*position`, skipping it.
bool SkipDrive(const std::wstring& path, size_t* position) {
  const size_t at = *position;
  if (path.size() < at + 3 || !IsAsciiLetter(path[at]) ||
      path[at + 1] != L':' || !IsSeparator(path[at + 2])) {
    return false;
  }
  *position = at + 3;
  return true;
}

// Skips the "server\share\" of a share's path at `*position`: only a plain
// share of another machine, never a pipe's, a mailslot's or this machine's
// own reached through the redirector.
bool SkipServerAndShare(const std::wstring& path, size_t* position) {
  std::wstring_view names[2];  // The server, then the share.
  size_t cursor = *position;
  for (std::wstring_view& name : names) {
    const size_t start = cursor;
    while (cursor < path.size() && !IsSeparator(path[cursor]))
      ++cursor;
    if (cursor == path.size())
      return false;
    name = std::wstring_view(path).substr(start, cursor - start);
    ++cursor;  // The separator after it.
  }
  if (!IsPlainShare(names[0], names[1]))
    return false;
  *position = cursor;
  return true;
}

// "\\.\" and "\\?\", with either separator: the device namespace, where a
// path names a device or another object of the system's (a pipe, a port, a
// volume by its device name) rather than a folder of a drive or a share.
bool IsDeviceNamespace(const std::wstring& path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
         (path[2] == L'.' || path[2] == L'?') && IsSeparator(path[3]);
}

// Of the device namespace, only the long-path forms of a drive's or a
// share's path name a folder: "\\?\C:\..." and "\\?\UNC\server\share\...".
// Windows hands what follows "\\?\" on unparsed, so a '/' there would be
// part of a name, not a separator.
bool SkipLongPathPrefix(const std::wstring& path, size_t* position) {
  static constexpr wchar_t kLongPath[] = L"\\\\?\\";
  static constexpr wchar_t kShare[] = L"UNC\\";
  constexpr size_t kLongPathSize = std::size(kLongPath) - 1;
  constexpr size_t kShareSize = std::size(kShare) - 1;
  if (path.compare(0, kLongPathSize, kLongPath) != 0 ||
      path.find(L'/') != std::wstring::npos) {
    return false;
  }
  *position = kLongPathSize;
  if (SkipDrive(path, position))
    return true;
  if (path.size() < kLongPathSize + kShareSize ||
      ::_wcsnicmp(path.c_str() + kLongPathSize, kShare, kShareSize) != 0) {
    return false;
  }
  *position = kLongPathSize + kShareSize;
  return SkipServerAndShare(path, position);
}

// Skips "X:\" or "\\server\share\", or their long-path forms. Anything else
// is refused: a bare "C:" or a relative path would be resolved later
// against the working folder of whichever process uses it, an elevated one
// included, and a device is no folder to install into.
bool SkipPathPrefix(const std::wstring& path, size_t* position) {
  *position = 0;
  if (IsDeviceNamespace(path))
    return SkipLongPathPrefix(path, position);
  if (SkipDrive(path, position))
    return true;
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1]))
    return false;
  *position = 2;
  return SkipServerAndShare(path, position);
}

bool IsValidPathComponent(const std::wstring& component) {
  if (component.empty())
    return true;
  for (wchar_t unit : component) {
    if (unit < 32 || std::wcschr(kForbiddenNameCharacters, unit))
      return false;
  }
  if (component.front() == L' ' || component.back() == L' ' ||
      component.back() == L'.') {
    return false;
  }
  return !IsDeviceName(component);
}

// The PE header that the DOS header's e_lfanew points at: the signature and
// the COFF file header behind it.
struct PeHeaderStart {
  DWORD signature;
  IMAGE_FILE_HEADER file_header;
};

// Every offset is checked against the mapped length: the file is anything
// that happens to stand at the path.
bool ReadPeMachine(const base::FilePath& path,
                   const uint8_t* data,
                   int64_t length,
                   WORD* machine) {
  IMAGE_DOS_HEADER dos_header;
  if (length < static_cast<int64_t>(sizeof(dos_header)))
    return false;
  std::memcpy(&dos_header, data, sizeof(dos_header));
  if (dos_header.e_magic != IMAGE_DOS_SIGNATURE)
    return false;
  const int64_t pe_offset = dos_header.e_lfanew;
  // The PE header follows the 64-byte DOS header; an offset inside it
  // would read the DOS header as a PE header.
  if (pe_offset < static_cast<int64_t>(sizeof(IMAGE_DOS_HEADER)) ||
      pe_offset > length - static_cast<int64_t>(sizeof(PeHeaderStart))) {
    LOG(ERROR) << "Not an image: the PE header offset " << pe_offset
               << " lies outside the " << length << " bytes of "
               << path.value().c_str();
    return false;
  }
  PeHeaderStart pe_header;
  std::memcpy(&pe_header, data + pe_offset, sizeof(pe_header));
  if (pe_header.signature != IMAGE_NT_SIGNATURE)
    return false;
  *machine = pe_header.file_header.Machine;
  return true;
}

}  // namespace

bool GetUserNameEx(std::wstring* name, int name_format) {
  const auto format = static_cast<EXTENDED_NAME_FORMAT>(name_format);
  ULONG size = 0;
  if (::GetUserNameExW(format, nullptr, &size) ||
      ::GetLastError() != ERROR_MORE_DATA || size == 0) {
    PLOG(ERROR) << "GetUserNameExW did not give the name's size";
    return false;
  }
  std::wstring buffer(size, L'\0');
  if (!::GetUserNameExW(format, buffer.data(), &size)) {
    PLOG(ERROR) << "GetUserNameExW failed";
    return false;
  }
  buffer.resize(std::min<size_t>(size, buffer.size()));
  *name = buffer.c_str();
  return true;
}

bool GetUserDisplayName(std::wstring* name) {
  return GetUserNameEx(name, NameDisplay);
}

bool GetCurrentUserName(std::wstring* name) {
  wchar_t buffer[kMaxUserNameLength] = {};
  DWORD size = kMaxUserNameLength;
  if (!::GetUserNameW(buffer, &size)) {
    PLOG(ERROR) << "GetUserNameW failed";
    return false;
  }
  buffer[kMaxUserNameLength - 1] = L'\0';
  *name = buffer;
  return true;
}

bool IsUserAdmin(bool check_linked_token) {
  AdminQuery query = g_admin_query.load();
  return query ? query(check_linked_token)
               : IsProcessTokenAdmin(check_linked_token);
}

std::vector<uint8_t> ReadTokenInformation(HANDLE token,
                                          TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  ::GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<uint8_t> buffer(size);
  if (size == 0 ||
      !::GetTokenInformation(token, kind, buffer.data(), size, &size)) {
    PLOG(ERROR) << "Reading token information " << kind << " failed";
    return {};
  }
  return buffer;
}

bool NeedsElevation(bool all_users, bool has_write_access) {
  if (IsUserAdmin(false))
    return false;
  return all_users || !has_write_access;
}

AdminQuery SetAdminQueryForTesting(AdminQuery query) {
  return g_admin_query.exchange(query);
}

bool GetKnownFolderPath(const GUID& folder_id,
                        int csidl,
                        base::FilePath* path,
                        bool create) {
  // Looked up at run time: the export is missing before Vista.
  if (SHGetKnownFolderPathFunction get_known_folder =
          FindSHGetKnownFolderPath()) {
    return GetKnownFolderPathByGuid(get_known_folder, folder_id, path, create);
  }
  return GetKnownFolderPathByCsidl(csidl, path, create);
}

base::FilePath GetResolvedKnownFolder(const GUID& folder_id) {
  base::win::ScopedCoMem<wchar_t> path;
  if (FAILED(::SHGetKnownFolderPath(folder_id, KF_FLAG_DONT_VERIFY, nullptr,
                                    path.Receive())) ||
      !path.Get()) {
    return base::FilePath();
  }
  return ResolveLocalPath(base::FilePath(path.Get()));
}

bool GetFileInformation(const base::FilePath& path,
                        BY_HANDLE_FILE_INFORMATION* information) {
  // Attribute access and backup semantics: folders and files that deny
  // reading still tell who they are.
  base::win::ScopedHandle file(::CreateFileW(
      path.value().c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.IsValid())
    return false;
  return ::GetFileInformationByHandle(file.Get(), information) != FALSE;
}

void FindTaskbarPins(const base::FilePath& target,
                     const BY_HANDLE_FILE_INFORMATION* target_information,
                     std::vector<base::FilePath>* pins) {
  if (base::win::GetWindowsVersion() < base::win::kVersionWin7)
    return;
  base::FilePath pins_folder;
  if (!base::GetPathForKey(base::kTaskbarPins, &pins_folder) ||
      !base::DirectoryExists(pins_folder)) {
    LOG(ERROR) << "Couldn't find path to taskbar pins.";
    return;
  }
  base::FileEnumerator shortcuts(pins_folder, false,
                                 base::FileEnumerator::kFiles, L"*.lnk");
  for (base::FilePath shortcut = shortcuts.Next(); !shortcut.empty();
       shortcut = shortcuts.Next()) {
    base::FilePath resolved;
    if (!base::win::ResolveShortcut(shortcut, &resolved)) {
      LOG(ERROR) << "Couldn't resolve shortcut at " << shortcut.value().c_str();
      continue;
    }
    if (IsShortcutTarget(resolved, target, target_information))
      pins->push_back(shortcut);
  }
}

bool TestShortcut(const base::FilePath& shortcut,
                  const base::FilePath& target,
                  const BY_HANDLE_FILE_INFORMATION* target_information) {
  VLOG(1) << "Testing shortcut " << shortcut.value().c_str();
  if (!base::PathExists(shortcut))
    return false;
  base::FilePath resolved;
  if (!base::win::ResolveShortcut(shortcut, &resolved))
    return false;
  return IsShortcutTarget(resolved, target, target_information);
}

bool IsValidInstallPath(const base::FilePath& path, bool short_limit) {
  const std::wstring& text = path.value();
  const size_t limit = short_limit ? kShortPathLimit : kPathLimit;
  if (text.empty() || text.size() >= limit)
    return false;
  size_t position = 0;
  if (!SkipPathPrefix(text, &position))
    return false;
  while (position < text.size()) {
    size_t end = position;
    while (end < text.size() && !IsSeparator(text[end]))
      ++end;
    if (!IsValidPathComponent(text.substr(position, end - position)))
      return false;
    position = end + 1;
  }
  return true;
}

std::string GetProductExecutableName() {
  return GetFileNameBase() + ".exe";
}

std::wstring GetCompanyRegistryPath() {
  return L"Software\\" + base::Utf8ToWide(GetCompanyName());
}

std::wstring GetUninstallRegistryPath(const std::wstring& key_name) {
  std::wstring path =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  if (!key_name.empty())
    path += L"\\" + key_name;
  return path;
}

std::string GetCurrentStreamName() {
  return GetStreamNameForChannel(base::GetReleaseChannel());
}

std::string GetStreamNameForChannel(int32_t channel) {
  struct ChannelWord {
    int32_t channel;
    const char* word;
  };
  static constexpr ChannelWord kChannelWords[] = {
      {1, "Nightly"}, {2, "Developer"}, {3, "Next"}, {4, "Stable"}};
  for (const ChannelWord& entry : kChannelWords) {
    if (entry.channel == channel)
      return entry.word;
  }
  return GetStreamName();
}

bool GetExecutableBitness(const base::FilePath& path, bool* is_64_bit) {
  if (!base::PathExists(path))
    return false;
  base::MappedFile image;
  if (!image.Initialize(path, base::MappedFile::kReadOnly))
    return false;
  WORD machine = 0;
  if (!ReadPeMachine(path, image.data(), image.length(), &machine))
    return false;
  *is_64_bit = machine != IMAGE_FILE_MACHINE_I386;
  return true;
}

}  // namespace installer
