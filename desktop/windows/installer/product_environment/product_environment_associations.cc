// The operations of ProductEnvironmentImpl that make the browser the default
// browser and the handler of protocols and file extensions.

#include <windows.h>

#include <memory>
#include <span>
#include <string>

#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product_environment/product_environment_impl.h"
#include "desktop/windows/installer/registry/registry_entry.h"
#include "desktop/windows/installer/registry/registry_entry_tables.h"
#include "desktop/windows/installer/registry/registry_placeholder_resolver.h"
#include "desktop/windows/installer/shell/association_shell.h"
#include "desktop/windows/installer/transactions/operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {
namespace {

using base::win::kVersionVista;
using base::win::kVersionWin10;
using base::win::kVersionWin7;
using base::win::kVersionWin8;
using base::win::kVersionWin8_1;

constexpr wchar_t kStartMenuInternetKey[] =
    L"Software\\Clients\\StartMenuInternet";
// The association-registration service's name of the start-menu client.
constexpr wchar_t kStartMenuInternetQuery[] = L"StartmenuInternet";

// What Windows before 8 lets a browser take over besides "http".
constexpr const wchar_t* kLegacyBrowserAssociations[] = {
    L"https",  L"ftp",         L".lrx",   L".htm", L".html",
    L".tvext", L".qrdownload", L".shtml", L".xht", L".xhtml"};

constexpr OPEN_AS_INFO_FLAGS kOpenWithFlags =
    OAIF_REGISTER_EXT | OAIF_FORCE_REGISTRATION | OAIF_URL_PROTOCOL;

constexpr wchar_t kSettingsAppId[] =
    L"windows.immersivecontrolpanel_cw5n1h2txyewy"
    L"!microsoft.windows.immersivecontrolpanel";
constexpr wchar_t kDefaultAppsPage[] = L"page=SettingsPageAppsDefaults";
constexpr wchar_t kDefaultAppsTargetFormat[] =
    L"page=SettingsPageAppsDefaults&target=%ls";
constexpr wchar_t kDefaultAppTargetFormat[] = L"SystemSettings_DefaultApps_%ls";
constexpr wchar_t kProtocolViewTarget[] =
    L"SettingsPageAppsDefaultsProtocolView";

bool IsExtension(const std::wstring& association) {
  return !association.empty() && association[0] == L'.';
}

// The association becomes one component of the keys written for it: an
// empty one, one with a backslash or one cut short by a NUL would write
// into (or delete from) other keys, the classes themselves among them.
bool IsSafeAssociation(const std::wstring& association) {
  return !association.empty() &&
         association.find(L'\\') == std::wstring::npos &&
         association.find(L'\0') == std::wstring::npos;
}

HKEY RootFor(bool all_users) {
  return all_users ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// Every row that applies to `root`, in one transaction: all or none.
bool WriteEntries(std::span<const RegistryEntryDescription> rows,
                  HKEY root,
                  PlaceholderResolver* resolver) {
  Transaction transaction;
  for (const RegistryEntryDescription& row : rows) {
    std::unique_ptr<Operation> operation;
    if (!RegistryEntry(row, resolver).CreateOperation(root, &operation) ||
        (operation && !transaction.ExecuteOperation(std::move(operation)))) {
      transaction.RollbackOperations();
      return false;
    }
  }
  return true;
}

// The handler entries of one extension or protocol. The last row removes
// the user's own choice of handler, which would otherwise win over them.
bool WriteAssociationEntries(const std::wstring& association,
                             const std::wstring& install_dir,
                             bool all_users,
                             bool keep_user_choice) {
  std::span<const RegistryEntryDescription> rows =
      IsExtension(association) ? GetExtensionEntries() : GetProtocolEntries();
  if (keep_user_choice)
    rows = rows.first(rows.size() - 1);
  RegistryPlaceholderResolver resolver(association, install_dir);
  return WriteEntries(rows, RootFor(all_users), &resolver);
}

// The default value of the start-menu client key. ERROR_FILE_NOT_FOUND for
// a missing key as for a missing value: either way nobody chose a client
// there.
LONG ReadStartMenuClient(HKEY root, std::wstring* name) {
  base::win::RegistryKey key;
  const LONG result = key.Open(root, kStartMenuInternetKey, KEY_QUERY_VALUE);
  if (result != ERROR_SUCCESS)
    return result;
  return key.ReadString(nullptr, name);
}

// The page of the Settings app where the user picks the association's
// handler.
std::wstring SettingsTarget(const std::wstring& association) {
  const std::string scheme = base::WideToUtf8(association);
  if (base::EqualsCaseInsensitiveAscii(scheme, "http"))
    return base::FormatWideString(kDefaultAppTargetFormat, L"Browser");
  if (base::EqualsCaseInsensitiveAscii(scheme, "mailto"))
    return base::FormatWideString(kDefaultAppTargetFormat, L"Email");
  return kProtocolViewTarget;
}

}  // namespace

std::vector<std::wstring> GetBrowserAssociations() {
  std::vector<std::wstring> associations = {L"http"};
  associations.insert(associations.end(),
                      std::begin(kLegacyBrowserAssociations),
                      std::end(kLegacyBrowserAssociations));
  return associations;
}

bool ProductEnvironmentImpl::IsDefaultBrowser() {
  if (!IsAssociationOurs(L"http", false) || !IsAssociationOurs(L"https", false))
    return false;
  return shell_->windows_version() >= kVersionWin8 ||
         IsDefaultStartMenuClient();
}

bool ProductEnvironmentImpl::IsDefaultStartMenuClient() {
  if (shell_->windows_version() >= kVersionVista && IsAllUsersInstallation()) {
    return shell_->QueryAppIsDefault(kStartMenuInternetQuery,
                                     AT_STARTMENUCLIENT, AL_EFFECTIVE,
                                     registered_name_);
  }
  const std::wstring name =
      base::Utf8ToWide(GetProductName() + GetStreamName());
  std::wstring client;
  LONG result = ReadStartMenuClient(HKEY_CURRENT_USER, &client);
  if (result == ERROR_FILE_NOT_FOUND)
    result = ReadStartMenuClient(HKEY_LOCAL_MACHINE, &client);
  return result == ERROR_SUCCESS && client == name;
}

bool ProductEnvironmentImpl::MakeDefaultBrowser(bool all_users) {
  if (IsSingleProfile())
    return false;
  if (RegisterAssociations(all_users)) {
    MakeDefaultForAssociation(L"http", all_users);
    if (shell_->windows_version() < kVersionWin8) {
      for (const wchar_t* association : kLegacyBrowserAssociations)
        MakeDefaultForAssociation(association, all_users);
      RegisterStartMenuClient(all_users);
    }
  }
  return IsDefaultBrowser();
}

bool ProductEnvironmentImpl::RegisterAssociations(bool all_users) {
  RegistryPlaceholderResolver resolver(std::wstring(), install_dir_.value());
  return WriteEntries(GetDocumentClassEntries(), RootFor(all_users), &resolver);
}

bool ProductEnvironmentImpl::MakeDefaultForAssociation(std::wstring association,
                                                       bool all_users) {
  if (!IsSafeAssociation(association)) {
    LOG(ERROR) << "Refusing to register the association \""
               << association.c_str() << "\"";
    return false;
  }
  const base::win::WindowsVersion version = shell_->windows_version();
  if (version >= kVersionWin10)
    return OpenDefaultAppsSettings(association, all_users);
  // Before Vista there is no choice of the user's to remove.
  bool keep_user_choice = version < kVersionVista;
  if (version == kVersionWin8 || version == kVersionWin8_1) {
    if (!OfferOpenWithDialog(association, all_users))
      return false;
    keep_user_choice = true;
  } else if ((version == kVersionVista || version == kVersionWin7) &&
             !all_users && IsAllUsersInstallation()) {
    // The service records the user's choice of the machine's application:
    // that choice must stay.
    if (!shell_->SetAppAsDefault(
            registered_name_, association,
            IsExtension(association) ? AT_FILEEXTENSION : AT_URLPROTOCOL)) {
      return false;
    }
    keep_user_choice = true;
  }
  return WriteAssociationEntries(association, install_dir_.value(), all_users,
                                 keep_user_choice);
}

bool ProductEnvironmentImpl::RegisterStartMenuClient(bool all_users) {
  const base::win::WindowsVersion version = shell_->windows_version();
  if (version >= kVersionWin8 && all_users)
    return false;
  if ((version == kVersionVista || version == kVersionWin7) && !all_users &&
      IsAllUsersInstallation() &&
      !shell_->SetAppAsDefault(registered_name_, kStartMenuInternetQuery,
                               AT_STARTMENUCLIENT)) {
    return false;
  }
  RegistryPlaceholderResolver resolver(std::wstring(), install_dir_.value());
  return WriteEntries(GetStartMenuInternetEntries(), RootFor(all_users),
                      &resolver);
}

bool ProductEnvironmentImpl::IsAllUsersInstallation() {
  LoadInstallLog();
  return install_log_.all_users;
}

bool ProductEnvironmentImpl::OfferOpenWithDialog(
    const std::wstring& association,
    bool all_users) {
  // Only the user can choose a handler here, and only for themselves.
  if (all_users)
    return false;
  if (IsAssociationOurs(association, false))
    return true;
  if (!shell_->ShowOpenWithDialog(association, kOpenWithFlags))
    return false;
  shell_->NotifyAssociationChanged();
  return true;
}

bool ProductEnvironmentImpl::OpenDefaultAppsSettings(
    const std::wstring& association,
    bool all_users) {
  if (all_users || IsAssociationOurs(association, false))
    return false;
  return shell_->ActivateApplication(
      kSettingsAppId,
      {kDefaultAppsPage,
       base::FormatWideString(kDefaultAppsTargetFormat,
                              SettingsTarget(association).c_str())});
}

}  // namespace installer
