#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_NAMES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

// A start-menu folder of shortcuts that earlier installers left and the
// uninstallation removes.
inline constexpr wchar_t kTemporaryShortcutFolderName[] = L"Tarvo Software";

// "<product name> Installer": the installer's folder under the temporary
// directory and the download folder.
std::wstring GetInstallerFolderName();

// "<product name> <version>": the key of an installation's entry in the
// programs list, under the Uninstall key (a second installation of one
// version adds a counter). The recovery matches every version's entry by it.
std::wstring GetUninstallEntryName(std::wstring_view version);

// `format` with its single "%s" filled by the product name, which is read
// from the branding once per process; `lower_case` lowers its ASCII letters.
std::string FormatWithProductName(const char* format, bool lower_case);

// The stream of the former browser generation's product type, whose
// shortcuts an update renames and a recovery may find.
std::wstring GetOldProductStreamName(int32_t product_type);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_NAMES_H_
