#ifndef DESKTOP_WINDOWS_INSTALLER_SYSTEM_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_SYSTEM_UTILS_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/product/install_folder_names.h"

namespace installer {

// Free functions of the installer's service layer: user names and
// administrator tests, known folders, shortcut and taskbar-pin tests,
// install-path validation and product names.

// User and rights.
bool GetUserNameEx(std::wstring* name, int name_format);
bool GetUserDisplayName(std::wstring* name);
// The logon name (at most 257 characters).
bool GetCurrentUserName(std::wstring* name);
// Whether the process token is in the Administrators group. With
// `check_linked_token`, a limited token (Vista and later) is judged by its
// linked, elevated token.
bool IsUserAdmin(bool check_linked_token);
// The token's `kind` of information; empty on failure.
std::vector<uint8_t> ReadTokenInformation(HANDLE token,
                                          TOKEN_INFORMATION_CLASS kind);
// Not an administrator, and either all users is asked for or the folder
// cannot be written.
bool NeedsElevation(bool all_users, bool has_write_access);

// Tests only: IsUserAdmin answers through `query` instead of the process
// token (a test process cannot drop its own elevation); null restores the
// token query. Returns the query it replaces.
using AdminQuery = bool (*)(bool check_linked_token);
AdminQuery SetAdminQueryForTesting(AdminQuery query);

// Folders and shortcuts.
bool GetKnownFolderPath(const GUID& folder_id,
                        int csidl,
                        base::FilePath* path,
                        bool create);
// The folder's place as it is set, resolved (ResolveLocalPath), whether or
// not it exists yet; empty for a virtual folder or one off local drives.
base::FilePath GetResolvedKnownFolder(const GUID& folder_id);
bool GetFileInformation(const base::FilePath& path,
                        BY_HANDLE_FILE_INFORMATION* information);
// The "*.lnk" taskbar pins whose target is `target` (by name ignoring case,
// or by file identity when `target_information` is given). Windows 7 on.
void FindTaskbarPins(const base::FilePath& target,
                     const BY_HANDLE_FILE_INFORMATION* target_information,
                     std::vector<base::FilePath>* pins);
bool TestShortcut(const base::FilePath& shortcut,
                  const base::FilePath& target,
                  const BY_HANDLE_FILE_INFORMATION* target_information);

// Names and paths.
// 1 to kMaxInstallPathLength characters (`short_limit`: room for every name
// the run writes below it) or 1 to 259, a drive's or a plain
// share's prefix (IsPlainShare: never a pipe, a mailslot or this machine
// through the redirector), and components Windows accepts. Checks the text
// only: decides whether the path may be opened at all.
bool IsValidInstallPath(const base::FilePath& path, bool short_limit);
// The branding's file name base + ".exe".
std::string GetProductExecutableName();
// "Software\" + the branding's company name.
std::wstring GetCompanyRegistryPath();
// The Uninstall key, joined with `key_name` when one is given.
std::wstring GetUninstallRegistryPath(const std::wstring& key_name = L"");
// The capitalised stream word of the build's release channel.
std::string GetCurrentStreamName();
// The capitalised stream word of `channel`; the build's stream name for a
// channel that has none.
std::string GetStreamNameForChannel(int32_t channel);
// True for a PE image; `is_64_bit` is set when its machine is not i386.
bool GetExecutableBitness(const base::FilePath& path, bool* is_64_bit);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SYSTEM_UTILS_H_
