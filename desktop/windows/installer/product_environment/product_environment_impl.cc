#include "desktop/windows/installer/product_environment/product_environment_impl.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

#include "base/features/feature_tables.h"
#include "base/files/file_util.h"
#include "base/lazy_global.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/install_log/install_log_reader.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/shell/system_association_shell.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {
namespace {

constexpr char kProfilePathPref[] = "profile_path";
constexpr char kSingleProfilePref[] = "single_profile";
constexpr wchar_t kApplicationIdPrefix[] = L"TarvoSoftware.TarvoWebBrowser.";
constexpr wchar_t kAutoupdateNamePrefix[] = L"Autoupdate ";

constexpr wchar_t kLocalProfileFolder[] = L"profile";
constexpr wchar_t kLocalUserDataFolder[] = L"data";
constexpr wchar_t kRoamingProfileFolder[] = L"Tarvo";
constexpr char kStreamPlaceholder[] = "{InternalStream}";
constexpr wchar_t kUserNamePlaceholder[] = L"<USERNAME>";
// GetUserNameW's limit (UNLEN) and its terminator.
constexpr DWORD kUserNameBufferSize = 257;

constexpr wchar_t kPreviousDefaultBrowserValue[] = L"Previous Default Browser";

constexpr wchar_t kExtensionUserChoicePath[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
constexpr wchar_t kProtocolUserChoicePath[] =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\";
constexpr wchar_t kUserChoiceKey[] = L"\\UserChoice";
constexpr wchar_t kUserChoiceProgIdValue[] = L"ProgId";
constexpr wchar_t kMachineClassesPath[] = L"SOFTWARE\\Classes\\";
constexpr wchar_t kOpenCommandKey[] = L"\\shell\\open\\command";

constinit base::LazyGlobalInstance<ProductEnvironmentImpl>
    g_product_environment(base::LazyGlobalLifetime::kLeaky);

bool IsExtension(const std::wstring& association) {
  return !association.empty() && association[0] == L'.';
}

LONG ReadRegistryString(HKEY root,
                        const std::wstring& key_path,
                        const wchar_t* value_name,
                        std::wstring* value) {
  base::win::RegistryKey key;
  const LONG result = key.Open(root, key_path.c_str(), KEY_QUERY_VALUE);
  if (result != ERROR_SUCCESS)
    return result;
  return key.ReadString(value_name, value);
}

// The default value of a key of the classes: the merged view for the
// current user, the machine's own classes for all users.
LONG ReadClassesDefaultValue(bool all_users,
                             const std::wstring& key_path,
                             std::wstring* value) {
  if (all_users) {
    return ReadRegistryString(HKEY_LOCAL_MACHINE,
                              kMachineClassesPath + key_path, nullptr, value);
  }
  return ReadRegistryString(HKEY_CLASSES_ROOT, key_path, nullptr, value);
}

// The class the user chose for the association in the shell; empty when
// none was chosen. False only for a failure other than a missing key or
// value.
bool ReadUserChoice(const std::wstring& association, std::wstring* program_id) {
  const std::wstring key_path =
      (IsExtension(association) ? kExtensionUserChoicePath
                                : kProtocolUserChoicePath) +
      association + kUserChoiceKey;
  // A user who never chose has no UserChoice key at all: that is the usual
  // case, not an error.
  const LONG result = ReadRegistryString(HKEY_CURRENT_USER, key_path,
                                         kUserChoiceProgIdValue, program_id);
  if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND)
    return true;
  VLOG(1) << "Cannot read the user's choice for " << association.c_str() << ": "
          << base::SystemErrorCodeToString(result);
  return false;
}

// Folds every UTF-16 unit on its own, so that surrogate pairs and
// combining marks stay as they are.
std::wstring LowerCaseUnits(std::wstring text) {
  if (!text.empty())
    ::CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

bool GetLogonUserName(std::wstring* name) {
  wchar_t buffer[kUserNameBufferSize];
  DWORD size = kUserNameBufferSize;
  if (!::GetUserNameW(buffer, &size)) {
    PLOG(ERROR) << "Cannot read the user name";
    return false;
  }
  *name = buffer;
  return true;
}

base::FilePath FindProcessInstallDir() {
  base::FilePath exe_dir;
  if (!base::GetPathForKey(base::kExeDir, &exe_dir))
    return base::FilePath();
  return ProductEnvironmentImpl::InstallDirForExecutableDir(exe_dir);
}

}  // namespace

ProductEnvironment* GetProductEnvironment() {
  return g_product_environment.Get();
}

ProductEnvironmentImpl::ProductEnvironmentImpl()
    : install_dir_(FindProcessInstallDir()) {
  Initialize();
}

ProductEnvironmentImpl::ProductEnvironmentImpl(
    const base::FilePath& install_dir)
    : install_dir_(install_dir) {
  Initialize();
}

ProductEnvironmentImpl::ProductEnvironmentImpl(
    const base::FilePath& install_dir,
    const InstallLog& install_log)
    : install_dir_(install_dir),
      install_log_loaded_(true),
      install_log_(install_log) {
  Initialize();
}

ProductEnvironmentImpl::~ProductEnvironmentImpl() = default;

void ProductEnvironmentImpl::Initialize() {
  GetWideStringPref(kProfilePathPref, &profile_path_);
  registered_name_ = base::Utf8ToWide(GetProductName() + " " + GetStreamName());
  shell_ = GetSystemAssociationShell();
}

void ProductEnvironmentImpl::SetAssociationShellForTesting(
    AssociationShell* shell) {
  shell_ = shell;
}

// static
base::FilePath ProductEnvironmentImpl::InstallDirForExecutableDir(
    const base::FilePath& exe_dir) {
  if (base::PathExists(exe_dir.Append(kLauncherName)))
    return exe_dir;
  const base::FilePath parent = exe_dir.DirName();
  if (base::PathExists(parent.Append(kLauncherName)))
    return parent;
  return exe_dir;
}

base::RefPtr<base::JsonPrefStore> ProductEnvironmentImpl::GetInstallerPrefs() {
  if (!installer_prefs_) {
    // Without a pool the store has no task runner: its file work runs here,
    // so the file has been read when this returns and the store never
    // waits for a thread.
    installer_prefs_ = base::CreateFilePrefStore(
        nullptr, install_dir_.Append(kInstallerPrefsName));
  }
  return installer_prefs_;
}

bool ProductEnvironmentImpl::GetBoolPref(const char* name, bool* out) {
  const base::Value* value = nullptr;
  return GetInstallerPrefs()->GetValue(name, &value) &&
         value->GetAsBoolean(out);
}

bool ProductEnvironmentImpl::GetWideStringPref(const char* name,
                                               std::wstring* out) {
  const base::Value* value = nullptr;
  return GetInstallerPrefs()->GetValue(name, &value) &&
         value->GetAsWideString(out);
}

bool ProductEnvironmentImpl::GetStringPref(const char* name, std::string* out) {
  const base::Value* value = nullptr;
  return GetInstallerPrefs()->GetValue(name, &value) && value->GetAsString(out);
}

bool ProductEnvironmentImpl::GetInt64Pref(const char* name, int64_t* out) {
  std::string text;
  if (!GetStringPref(name, &text))
    return false;
  // Only a whole number is read: "12x" must not pass as 12.
  int64_t number = 0;
  if (!base::StringToInt64Impl(text.data(), text.data() + text.size(),
                               &number)) {
    return false;
  }
  *out = number;
  return true;
}

const base::FilePath& ProductEnvironmentImpl::install_dir() const {
  return install_dir_;
}

const InstallLog& ProductEnvironmentImpl::install_log() const {
  return install_log_;
}

bool ProductEnvironmentImpl::IsCopyOnly() {
  LoadInstallLog();
  return install_log_.copy_only;
}

bool ProductEnvironmentImpl::GetAssociationCommand(
    const std::wstring& association,
    bool all_users,
    std::wstring* command) {
  std::wstring program_id;
  if (shell_->windows_version() >= base::win::kVersionVista && !all_users &&
      !ReadUserChoice(association, &program_id)) {
    return false;
  }
  std::wstring class_name = program_id;
  if (class_name.empty()) {
    if (!IsExtension(association))
      class_name = association;
    else if (ReadClassesDefaultValue(all_users, association, &class_name) !=
             ERROR_SUCCESS)
      return false;
  }
  return ReadClassesDefaultValue(all_users, class_name + kOpenCommandKey,
                                 command) == ERROR_SUCCESS;
}

bool ProductEnvironmentImpl::IsAssociationOurs(std::wstring association,
                                               bool use_product_executable) {
  // Without a folder the executable path would be a bare name that any
  // other installation's command contains.
  if (install_dir_.empty())
    return false;
  std::wstring command;
  if (!GetAssociationCommand(association, false, &command))
    return false;
  const base::FilePath executable = install_dir_.Append(
      use_product_executable ? base::Utf8ToWide(GetProductExecutableName())
                             : std::wstring(kLauncherName));
  return LowerCaseUnits(command).find(LowerCaseUnits(executable.value())) !=
         std::wstring::npos;
}

bool ProductEnvironmentImpl::IsSingleProfile() {
  base::RefPtr<base::JsonPrefStore> prefs = GetInstallerPrefs();
  const base::Value* value = nullptr;
  bool single_profile = false;
  return prefs->IsLoaded() && prefs->GetValue(kSingleProfilePref, &value) &&
         value->GetAsBoolean(&single_profile) && single_profile;
}

bool ProductEnvironmentImpl::GetPreviousDefaultBrowser(std::wstring* command) {
  const std::wstring company_path = GetCompanyRegistryPath();
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    if (ReadRegistryString(root, company_path, kPreviousDefaultBrowserValue,
                           command) == ERROR_SUCCESS) {
      return true;
    }
  }
  return false;
}

bool ProductEnvironmentImpl::SetPreviousDefaultBrowser(
    const std::wstring& command,
    bool all_users) {
  base::win::RegistryKey key;
  LONG result = key.Create(all_users ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                           GetCompanyRegistryPath().c_str(), KEY_SET_VALUE);
  if (result == ERROR_SUCCESS)
    result = key.WriteString(kPreviousDefaultBrowserValue, command.c_str());
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot keep the previous default browser: "
               << base::SystemErrorCodeToString(result);
    return false;
  }
  return true;
}

void ProductEnvironmentImpl::RememberCurrentDefaultBrowser(bool all_users) {
  if (IsAssociationOurs(L"http", false))
    return;
  std::wstring command;
  if (GetAssociationCommand(L"http", all_users, &command))
    SetPreviousDefaultBrowser(command, all_users);
}

std::wstring ProductEnvironmentImpl::GetApplicationId() {
  LoadInstallLog();
  return kApplicationIdPrefix + base::Utf8ToWide(install_log_.app_id);
}

std::wstring ProductEnvironmentImpl::GetAutoupdateName() {
  LoadInstallLog();
  return kAutoupdateNamePrefix + base::Utf8ToWide(install_log_.app_id);
}

bool ProductEnvironmentImpl::GetUserDataDir(base::FilePath* path) {
  return GetUserDataDirForChannel(path, base::GetReleaseChannel());
}

bool ProductEnvironmentImpl::GetUserDataDirForChannel(base::FilePath* path,
                                                      int32_t channel) {
  if (install_dir_.empty())
    return false;
  base::FilePath local_profile;
  if (GetLocalProfileDir(&local_profile)) {
    *path = local_profile.Append(kLocalUserDataFolder);
    return true;
  }
  return ExpandProfilePath(path, channel);
}

bool ProductEnvironmentImpl::GetProfileDir(base::FilePath* path) {
  if (install_dir_.empty())
    return false;
  return GetLocalProfileDir(path) || GetRoamingProfileDir(path);
}

bool ProductEnvironmentImpl::GetUserDataDirForStream(base::FilePath* path) {
  return GetProfilePathForChannel(path, true, base::GetReleaseChannel());
}

void ProductEnvironmentImpl::RebasePath(const base::FilePath& path,
                                        base::FilePath* rebased) {
  base::FilePath result = path;
  base::FilePath roaming;
  base::FilePath local;
  if (profile_path_.empty() && base::GetPathForKey(base::kAppData, &roaming) &&
      base::GetPathForKey(base::kLocalAppData, &local)) {
    if (roaming.AppendRelativePath(path, &local))
      result = local;
  }
  *rebased = result;
}

void ProductEnvironmentImpl::LoadInstallLog() {
  if (install_log_loaded_)
    return;
  install_log_loaded_ = true;
  // The reader is COM-based; a caller's apartment of either kind will do.
  base::win::ScopedCOMInitializer com;
  InstallLogReader reader;
  const base::FilePath path = install_dir_.Append(kInstallLogName);
  if (!reader.Read(&install_log_, path))
    VLOG(1) << "No install log read from " << path.value().c_str() << ": "
            << reader.error();
}

bool ProductEnvironmentImpl::GetLocalProfileDir(base::FilePath* path) {
  if (!IsSingleProfile())
    return false;
  *path = install_dir_.Append(kLocalProfileFolder);
  return true;
}

bool ProductEnvironmentImpl::GetRoamingProfileDir(base::FilePath* path) {
  base::FilePath roaming;
  if (!base::GetPathForKey(base::kAppData, &roaming))
    return false;
  base::FilePath profile = roaming.Append(kRoamingProfileFolder);
  // A root has no part below a parent: the product name stands in for it.
  if (!install_dir_.DirName().AppendRelativePath(install_dir_, &profile))
    profile = profile.Append(kRoamingProfileFolder);
  *path = profile;
  return true;
}

bool ProductEnvironmentImpl::ExpandProfilePath(base::FilePath* path,
                                               int32_t channel) {
  if (profile_path_.empty()) {
    base::FilePath roaming;
    if (!base::GetPathForKey(base::kAppData, &roaming))
      return false;
    std::string relative = GetDefaultProfilePathTemplate();
    base::ReplaceSubstring(&relative, 0, kStreamPlaceholder,
                           GetStreamNameForChannel(channel), true);
    std::replace(relative.begin(), relative.end(), '/', '\\');
    *path = roaming.AppendASCII(relative);
    return true;
  }
  std::wstring text = profile_path_;
  const size_t user = text.find(kUserNamePlaceholder);
  if (user != std::wstring::npos) {
    std::wstring user_name;
    if (!GetLogonUserName(&user_name))
      return false;
    text.replace(user, std::size(kUserNamePlaceholder) - 1, user_name);
  }
  text.resize(std::min(text.size(), text.find(L'\0')));
  *path = base::FilePath(text);
  return true;
}

bool ProductEnvironmentImpl::GetProfilePathForChannel(base::FilePath* path,
                                                      bool strip_user,
                                                      int32_t channel) {
  if (install_dir_.empty())
    return false;
  base::FilePath local_profile;
  if (GetLocalProfileDir(&local_profile)) {
    *path = local_profile.Append(kLocalUserDataFolder);
    return true;
  }
  if (!ExpandProfilePath(path, channel))
    return false;
  if (!strip_user)
    return true;
  const size_t user = profile_path_.find(kUserNamePlaceholder);
  if (user == std::wstring::npos)
    return true;
  // Only a user name in the last component names one user's folder inside
  // the folder of every user's profile.
  const size_t separator = profile_path_.find_first_of(L"\\/", user);
  if (separator == std::wstring::npos ||
      separator == profile_path_.size() - 1) {
    *path = path->DirName();
  }
  return true;
}

}  // namespace installer
