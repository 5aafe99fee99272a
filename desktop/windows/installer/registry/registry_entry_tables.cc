#include "desktop/windows/installer/registry/registry_entry_tables.h"

#include <windows.h>

#include <algorithm>

namespace installer {
namespace {

// Short names keep one row on one line.
constexpr RootFilter kAny = RootFilter::kAnyRoot;
constexpr RootFilter kHKLM = RootFilter::kLocalMachineOnly;
constexpr RootFilter kHKCU = RootFilter::kCurrentUserOnly;
constexpr uint32_t k32 = KEY_WOW64_32KEY;
// The release channel of the stable stream.
constexpr int32_t kStable = 4;

// Columns: key, value name, kind, data, minimum Windows version, root,
// minimum channel, clean depth, view.
// clang-format off
constexpr RegistryEntryDescription kInstallationEntries[] = {
    {L"Software\\Classes\\{Product}{Stream}", L"FriendlyTypeName", REG_SZ, L"{Product} Web Document", 1, kAny, 0, 1, 0},
    {L"Software\\Classes\\{Product}{Stream}", L"URL Protocol", REG_SZ, {}, 1, kAny, 0, 1, 0},
    {L"Software\\Classes\\{Product}{Stream}\\DefaultIcon", nullptr, REG_SZ, L"{InstallFolder}\\Launcher.exe,0", 1, kAny, 0, 1, 0},
    {L"Software\\Classes\\{Product}{Stream}\\shell\\open\\command", nullptr, REG_SZ, L"\"{InstallFolder}\\Launcher.exe\" -noautoupdate -- \"%1\"", 1, kAny, 0, 2, 0},
    {L"Software\\Classes\\{Product}{Stream}\\shell\\open\\ddeexec", nullptr, kDeleteKey, {}, 1, kHKLM, 0, 0, 0},
    {L"Software\\Classes\\{Product}{Stream}\\shell\\open\\ddeexec", nullptr, REG_SZ, L"", 1, kHKCU, 0, 2, 0},
    {L"Software\\Classes\\{Product}{Stream}\\shell\\open\\ddeexec\\Application", nullptr, REG_SZ, L"", 1, kHKCU, 0, 1, 0},
    {L"Software\\Classes\\{Product}{Stream}\\shell\\open\\ddeexec\\Topic", nullptr, REG_SZ, L"", 1, kHKCU, 0, 1, 0},
    {L"Software\\Classes\\.ubx", nullptr, REG_SZ, L"{Product}{Stream}.Extension", 1, kAny, 0, 1, 0},
    {L"Software\\Classes\\.ubx\\OpenWithProgIDs", L"{Product}{Stream}", REG_NONE, {}, 1, kAny, 0, 1, 0},
    {L"Software\\Classes\\.qrdownload\\OpenWithProgIDs", L"{Product}{Stream}", REG_NONE, {}, 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\.htm\\OpenWithProgIDs", L"{Product}{Stream}", REG_NONE, {}, 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\.html\\OpenWithProgIDs", L"{Product}{Stream}", REG_NONE, {}, 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\.pdf\\OpenWithProgIDs", L"{Product}{Stream}", REG_NONE, {}, 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\.shtml\\OpenWithProgIDs", L"{Product}{Stream}", REG_NONE, {}, 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\.xht\\OpenWithProgIDs", L"{Product}{Stream}", REG_NONE, {}, 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\.xhtml\\OpenWithProgIDs", L"{Product}{Stream}", REG_NONE, {}, 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\Applications\\{Executable}\\shell\\open\\command", nullptr, REG_SZ, L"\"{InstallFolder}\\Launcher.exe\" \"%1\"", 1, kAny, kStable, 4, 0},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\{Executable}", nullptr, REG_SZ, L"\"{InstallFolder}\\Launcher.exe\"", 1, kAny, kStable, 0, 0},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\{Executable}", L"Path", REG_SZ, L"\"{InstallFolder}\"", 1, kAny, kStable, 0, 0},
    {L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted", L"{InstallFolder}\\Launcher.exe", REG_DWORD, 32u, 3, kAny, 0, 0, 0},
    {L"Software\\RegisteredApplications", L"{Product} {Stream}", REG_SZ, L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities", 3, kAny, 0, 0, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}", nullptr, REG_SZ, L"{Product} {Stream}", 1, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\DefaultIcon", nullptr, REG_SZ, L"{InstallFolder}\\Launcher.exe,0", 1, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\InstallInfo", L"ShowIconsCommand", REG_SZ, L"\"{InstallFolder}\\Launcher.exe\" --showicons", 1, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\InstallInfo", L"HideIconsCommand", REG_SZ, L"\"{InstallFolder}\\Launcher.exe\" --hideicons", 1, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\InstallInfo", L"ReinstallCommand", REG_SZ, L"\"{InstallFolder}\\Launcher.exe\" --makedefaultbrowser", 1, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\InstallInfo", L"IconsVisible", REG_DWORD, 1u, 1, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\shell\\open\\command", nullptr, REG_SZ, L"\"{InstallFolder}\\Launcher.exe\"", 1, kAny, 0, 2, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities", L"ApplicationDescription", REG_SZ, L"Browse the web your way", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities", L"ApplicationIcon", REG_SZ, L"\"{InstallFolder}\\Launcher.exe\",0", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities", L"ApplicationName", REG_SZ, L"{Product} {Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\FileAssociations", L".lrx", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\FileAssociations", L".htm", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\FileAssociations", L".html", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\FileAssociations", L".tvext", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\FileAssociations", L".qrdownload", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\FileAssociations", L".pdf", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\FileAssociations", L".shtml", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\FileAssociations", L".xht", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\FileAssociations", L".xhtml", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\Startmenu", L"StartMenuInternet", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\UrlAssociations", L"http", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\UrlAssociations", L"https", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\UrlAssociations", L"ftp", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}\\Capabilities\\UrlAssociations", L"mailto", REG_SZ, L"{Product}{Stream}", 3, kAny, 0, 1, 0},
    {L"{Uninstall}", L"DisplayName", REG_SZ, L"{Product} {Stream} {Version}", 1, kAny, 0, 1, k32},
    {L"{Uninstall}", L"DisplayIcon", REG_SZ, L"\"{InstallFolder}\\Launcher.exe\",0", 1, kAny, 0, 1, k32},
    {L"{Uninstall}", L"DisplayVersion", REG_SZ, L"{Version}", 1, kAny, 0, 1, k32},
    {L"{Uninstall}", L"HelpLink", REG_SZ, L"{HelpURL}", 1, kAny, 0, 1, k32},
    {L"{Uninstall}", L"InstallLocation", REG_SZ, L"{InstallFolder}", 1, kAny, 0, 1, k32},
    {L"{Uninstall}", L"NoModify", REG_DWORD, 1u, 1, kAny, 0, 1, k32},
    {L"{Uninstall}", L"NoRepair", REG_DWORD, 1u, 1, kAny, 0, 1, k32},
    {L"{Uninstall}", L"Publisher", REG_SZ, L"{Company}", 1, kAny, 0, 1, k32},
    {L"{Uninstall}", L"UninstallString", REG_SZ, L"\"{InstallFolder}\\Launcher.exe\" /uninstall", 1, kAny, 0, 1, k32},
    {L"{Uninstall}", L"URLInfoAbout", REG_SZ, L"{CompanyURL}", 1, kAny, 0, 1, k32},
    {L"{Uninstall}", L"URLUpdateInfo", REG_SZ, L"{DownloadsURL}", 1, kAny, 0, 1, k32},
    {L"{CompanyRegistryKey}", L"Last {Stream} Install Path", REG_SZ, L"{InstallFolder}\\", 1, kAny, 0, 0, 0},
    {L"{CompanyRegistryKey}", L"Last {Stream} Install Path x64", kRemoveValue, {}, 1, kAny, 0, 0, 0},
    {L"{Uninstall}", L"SystemComponent", REG_DWORD, 1u, 1, kAny, 0, 1, k32},
};

// The same rows as the start of the installation entries.
constexpr size_t kDocumentClassEntryCount = 8;

constexpr RegistryEntryDescription kProtocolEntries[] = {
    {L"Software\\Classes\\{Protocol}", L"EditFlags", REG_DWORD, 2u, 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\{Protocol}", L"URL Protocol", REG_SZ, {}, 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\{Protocol}\\DefaultIcon", nullptr, REG_SZ, L"{InstallFolder}\\Launcher.exe,0", 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\{Protocol}\\shell\\open\\command", nullptr, REG_SZ, L"\"{InstallFolder}\\launcher.exe\" -noautoupdate -- \"%1\"", 1, kAny, 0, 0, 0},
    {L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec", nullptr, kDeleteKey, {}, 1, kHKLM, 0, 0, 0},
    {L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec", nullptr, REG_SZ, L"", 1, kHKCU, 0, 0, 0},
    {L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec\\Application", nullptr, REG_SZ, L"", 1, kHKCU, 0, 0, 0},
    {L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec\\Topic", nullptr, REG_SZ, L"", 1, kHKCU, 0, 0, 0},
    {L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\{Protocol}\\UserChoice", L"Progid", kRemoveValue, {}, 3, kHKCU, 0, 0, 0},
};

constexpr RegistryEntryDescription kExtensionEntries[] = {
    {L"Software\\Classes\\{Extension}", nullptr, REG_SZ, L"{Product}{Stream}", 1, kAny, 0, 0, 0},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\{Extension}\\UserChoice", L"Progid", kRemoveValue, {}, 3, kHKCU, 0, 0, 0},
};

constexpr RegistryEntryDescription kStartMenuInternetEntries[] = {
    {L"Software\\Clients\\StartMenuInternet", nullptr, REG_SZ, L"{Product}{Stream}", 1, kAny, 0, 0, 0},
};

// clang-format on

// The walk trusts each row's data to be of the form its kind reads.
constexpr bool HasDataOfItsKind(const RegistryEntryDescription& row) {
  switch (row.kind) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return std::holds_alternative<std::monostate>(row.data) ||
             std::holds_alternative<const wchar_t*>(row.data);
    case REG_BINARY:
      return std::holds_alternative<const char*>(row.data) &&
             std::get<const char*>(row.data) != nullptr;
    case REG_DWORD:
      return std::holds_alternative<uint32_t>(row.data);
    default:
      return std::holds_alternative<std::monostate>(row.data);
  }
}

template <size_t N>
constexpr bool AllHaveDataOfTheirKind(const RegistryEntryDescription (&rows)[N]) {
  return std::all_of(rows, rows + N, HasDataOfItsKind);
}

static_assert(AllHaveDataOfTheirKind(kInstallationEntries));
static_assert(AllHaveDataOfTheirKind(kProtocolEntries));
static_assert(AllHaveDataOfTheirKind(kExtensionEntries));
static_assert(AllHaveDataOfTheirKind(kStartMenuInternetEntries));

}  // namespace

std::span<const RegistryEntryDescription> GetInstallationEntries() {
  return kInstallationEntries;
}

std::span<const RegistryEntryDescription> GetDocumentClassEntries() {
  return std::span(kInstallationEntries).first(kDocumentClassEntryCount);
}

std::span<const RegistryEntryDescription> GetProtocolEntries() {
  return kProtocolEntries;
}

std::span<const RegistryEntryDescription> GetExtensionEntries() {
  return kExtensionEntries;
}

std::span<const RegistryEntryDescription> GetStartMenuInternetEntries() {
  return kStartMenuInternetEntries;
}

}  // namespace installer
