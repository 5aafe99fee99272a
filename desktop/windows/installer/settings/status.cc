#include "desktop/windows/installer/settings/status.h"

#include <aclapi.h>

#include <string>
#include <utility>

#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/files/new_file_in_folder.h"
#include "base/json/json_file_value_serializer.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/ref_counted.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/prefs_task_pool.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/install_log/install_log_reader.h"
#include "desktop/windows/installer/product/installer_names.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product_environment/folder_product_environment.h"
#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"
#include "desktop/windows/installer/security/access_permissions.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

constexpr wchar_t kFormerPrefsFileName[] = L"tarvoprefs_default.ini";

constexpr char kStatusFileErrorPrefix[] = "Tarvo Fennic status file, ";
constexpr char kFormerStatusFileErrorPrefix[] = "Kilnor status file, ";

// Far beyond the few keys the former generation wrote.
constexpr int64_t kMaxFormerPrefsSize = 1 << 20;

// A broken status file goes into the statistics report: keep it short.
constexpr size_t kMaxStatusFileContent = 4096;

// The first kMaxStatusFileContent bytes of a broken status file, read
// without following a link.
bool ReadStatusFileHead(const base::FilePath& file, std::string* head) {
  head->clear();
  const base::win::ScopedHandle opened =
      base::NewFileInFolder::OpenToRead(file.value());
  std::string bytes(kMaxStatusFileContent, '\0');
  DWORD read = 0;
  if (!opened.IsValid() ||
      !::ReadFile(opened.Get(), bytes.data(),
                  static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    return false;
  }
  bytes.resize(read);
  *head = std::move(bytes);
  return true;
}

// Read, write and execute of a file, for a folder that exists; adding a
// sub-folder, for the nearest existing parent of one that does not.
constexpr DWORD kExistingFolderAccess = 0x1201BF;
constexpr DWORD kParentFolderAccess = FILE_ADD_SUBDIRECTORY;

// The section and key names of the former generation's preferences.
constexpr wchar_t kFormerSystemSection[] = L"System";
constexpr wchar_t kFormerProductTypeKey[] = L"Tarvo Product";
constexpr wchar_t kFormerMultiUserKey[] = L"Multi User";
constexpr wchar_t kFormerUserPrefsSection[] = L"User Prefs";
constexpr wchar_t kFormerLanguageDirectoryKey[] = L"Language Files Directory";

constexpr char kTestExperimentName[] = "installer-experiment-test";

// -1 when the preference is missing or not a boolean, else 0 or 1.
int32_t ReadTristatePref(const base::JsonPrefStore& prefs, const char* name) {
  const base::Value* value = nullptr;
  bool state = false;
  if (!prefs.GetValue(name, &value) || !value->GetAsBoolean(&state))
    return -1;
  return state ? 1 : 0;
}

// The experiment list holds only overrides (nothing is registered on it),
// so "enabled" is the newest stored state of the name.
bool IsStoredStateOn(const base::FeatureList& experiments, const char* name) {
  std::vector<base::FeatureEntry> states;
  experiments.GetFeatureStates(&states);
  for (auto entry = states.rbegin(); entry != states.rend(); ++entry) {
    if (entry->name == name)
      return entry->state;
  }
  return false;
}

// False when the key is absent. The default is a code unit no INI text
// holds, so that an empty value still counts as present.
bool ReadIniString(const base::FilePath& file,
                   const wchar_t* section,
                   const wchar_t* key,
                   std::wstring* value) {
  constexpr wchar_t kAbsent[] = L"\xFFFF";
  wchar_t buffer[1024];
  const DWORD length = ::GetPrivateProfileStringW(
      section, key, kAbsent, buffer, static_cast<DWORD>(std::size(buffer)),
      file.value().c_str());
  value->assign(buffer, length);
  return *value != kAbsent;
}

bool IsOnCdRom(const base::FilePath& path) {
  const std::wstring drive_root = path.value().substr(0, 3);
  return ::GetDriveTypeW(drive_root.c_str()) == DRIVE_CDROM;
}

// The sub-folder comes from the install log: only a plain relative name may
// lead to a target inside the installation.
bool IsPlainSubfolder(const std::wstring& subfolder) {
  const base::FilePath path(subfolder);
  return !subfolder.empty() && !path.IsAbsolute() && !path.ReferencesParent() &&
         !base::FilePath::IsSeparator(subfolder.front());
}

}  // namespace

Status::Status(bool look_for_former_generation)
    : look_for_former_generation(look_for_former_generation) {}

Status::~Status() = default;

void Status::Init(base::FilePath path) {
  if (Locate(std::move(path)))
    Read();
}

bool Status::Locate(base::FilePath path) {
  VLOG(1) << "Initializing status: " << path.value().c_str();
  install_folder = path;
  status_file_error.clear();
  status_file_content.clear();
  recovery = InterruptedRunRecovery::Outcome();

  if (path.empty()) {
    VLOG(1) << "Path is empty";
    return false;
  }
  if (!IsValidInstallPath(path, true)) {
    VLOG(1) << "Path is not a valid Win32 path";
    return false;
  }
  if (!path.IsAbsolute()) {
    VLOG(1) << "Path is relative";
    return false;
  }
  if (base::PathExists(path) && !base::DirectoryExists(path)) {
    VLOG(1) << "Path is a file path";
    return false;
  }
  if (!base::IsPathWritable(path) && IsOnCdRom(path)) {
    LOG(INFO) << "Path is to a non-writable CD-ROM";
    return false;
  }
  return true;
}

void Status::Read() {
  if (base::DirectoryExists(install_folder)) {
    InitFromExistingFolder();
    return;
  }
  InitFromExistingParent();
}

void Status::InitFromExistingFolder() {
  LOG(INFO) << "Path is a folder";
  valid_parent_folder = install_folder;
  valid_install_path = true;
  ReadStatusFile();

  if (existing_installation) {
    LOG(INFO) << "Path is a existing installation";
    NormalizeInstallLogFlags();
    ReadInstallationState();
    // A former-generation installation counts only when its replacement was
    // asked for; what was read of it stays.
    if (kilnor_installation)
      existing_installation = look_for_former_generation;
    return;
  }
  LOG(INFO) << "Path is not an existing installation";
  existing_installation_traces =
      base::PathExists(install_folder.Append(kLauncherName));
  ReadInstallationState();
}

void Status::InitFromExistingParent() {
  base::FilePath current = install_folder;
  for (;;) {
    const base::FilePath parent = current.DirName();
    if (parent == current) {
      LOG(INFO) << "Path is a root folder that's not valid"
                << "(probably invalid drive letter)";
      return;
    }
    if (base::DirectoryExists(parent)) {
      LOG(INFO) << "Path is valid";
      valid_parent_folder = parent;
      valid_install_path = true;
      ReadInstallationState();
      return;
    }
    if (base::PathExists(parent)) {
      LOG(INFO) << "Path is child of a file (invalid)";
      return;
    }
    current = parent;
  }
}

void Status::ReadStatusFile() {
  const base::FilePath status_file = install_folder.Append(kInstallLogName);
  const base::FilePath former_status_file =
      install_folder.Append(kFormerInstallLogName);
  if (base::PathExists(status_file)) {
    existing_installation = ReadInstallLog(status_file, kStatusFileErrorPrefix);
  } else if (base::PathExists(former_status_file)) {
    existing_installation =
        ReadInstallLog(former_status_file, kFormerStatusFileErrorPrefix);
    kilnor_installation = existing_installation;
  } else {
    status_file_error = "The status file does not exist";
  }
}

bool Status::ReadInstallLog(const base::FilePath& file,
                            const char* error_prefix) {
  InstallLogReader reader;
  if (reader.Read(&install_log, file))
    return true;
  // The reader leaves what it read before the fault: none of it is the
  // installation's.
  install_log = InstallLog();
  status_file_error = error_prefix + reader.error();
  if (!ReadStatusFileHead(file, &status_file_content))
    status_file_error += " Cannot read the file to string.";
  return false;
}

void Status::ReadInstallationState() {
  if (existing_installation) {
    LOG(INFO) << "Testing shortcuts";
    TestAllShortcutTargets();
    FindTemporaryShortcutFolder();
  }

  if (valid_install_path) {
    LOG(INFO) << "Determining write access";
    const DWORD access = valid_parent_folder == install_folder
                             ? kExistingFolderAccess
                             : kParentFolderAccess;
    has_write_access =
        CheckAccessToPath(valid_parent_folder.value(), SE_FILE_OBJECT, access);
  }

  if (!existing_installation) {
    ReadFormerGenerationPrefs();
    return;
  }

  FolderProductEnvironment environment(install_folder);
  LOG(INFO) << "Determining whether we handled http";
  is_http_handler = environment.IsAssociationOurs(L"http", kilnor_installation);
  LOG(INFO) << "Reading exisitng tracking data";
  // Anyone who may write the folder may have put a link or a huge file
  // there for an elevated run to read.
  if (!base::NewFileInFolder::ReadToString(
          install_folder.Append(kServerTrackingDataName).value(),
          kMaxRunDataFileSize, &tracking_data) &&
      ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    PLOG(WARNING) << "Not reading the tracking data";
  }

  const base::FilePath prefs_file = install_folder.Append(kInstallerPrefsName);
  if (kilnor_installation || !base::PathExists(prefs_file)) {
    ReadFormerGenerationPrefs();
    return;
  }
  ReadInstallerPrefs(prefs_file);
  ReadUserLanguage(&environment);
}

void Status::TestShortcuts(const base::FilePath& target,
                           bool is_current_target) {
  if (!base::PathExists(target))
    return;
  BY_HANDLE_FILE_INFORMATION information;
  const BY_HANDLE_FILE_INFORMATION* target_information =
      GetFileInformation(target, &information) ? &information : nullptr;

  struct RecordedShortcut {
    const std::wstring& path;
    bool& exists;
    bool& recreate;
    // The start menu's shortcut needs properties that older installers did
    // not write from Windows 8 on.
    bool recreate_from_windows_8;
  };
  const RecordedShortcut shortcuts[] = {
      {install_log.desktop_shortcut, desktop_shortcut_exists,
       recreate_desktop_shortcut, false},
      {install_log.start_menu_shortcut, start_menu_shortcut_exists,
       recreate_start_menu_shortcut, true},
      {install_log.quick_launch_shortcut, quick_launch_shortcut_exists,
       recreate_quick_launch_shortcut, false},
  };
  const bool windows_8_or_later =
      base::win::GetWindowsVersion() >= base::win::kVersionWin8;
  for (const RecordedShortcut& shortcut : shortcuts) {
    if (shortcut.exists)
      continue;
    shortcut.exists =
        TestShortcut(base::FilePath(shortcut.path), target, target_information);
    if (shortcut.exists && !is_current_target)
      shortcut.recreate = true;
    if (shortcut.recreate_from_windows_8 && windows_8_or_later)
      shortcut.recreate = true;
  }

  if (pinned_shortcut_paths.empty()) {
    FindTaskbarPins(target, target_information, &pinned_shortcut_paths);
    if (!pinned_shortcut_paths.empty() && !is_current_target)
      recreate_pinned_shortcut = true;
  }
}

void Status::NormalizeInstallLogFlags() {
  const bool records_changes = !install_log.hklm_registry.empty() ||
                               !install_log.hkcu_registry.empty() ||
                               !install_log.desktop_shortcut.empty() ||
                               !install_log.start_menu_shortcut.empty() ||
                               !install_log.quick_launch_shortcut.empty();
  install_log.copy_only = install_log.copy_only && !records_changes;
  install_log.all_users =
      !install_log.copy_only &&
      (install_log.all_users || !install_log.hklm_registry.empty());
}

void Status::TestAllShortcutTargets() {
  const base::FilePath product_executable_name =
      base::FilePath::FromUTF8(GetProductExecutableName());
  TestShortcuts(install_folder.Append(kLauncherName), true);
  TestShortcuts(install_folder.Append(product_executable_name.value()), false);
  if (IsPlainSubfolder(install_log.subfolder)) {
    TestShortcuts(install_folder.Append(install_log.subfolder)
                      .Append(product_executable_name.value()),
                  false);
  }
}

void Status::FindTemporaryShortcutFolder() {
  if (temporary_shortcut_folder_exists)
    return;
  base::FilePath start_menu;
  if (!base::GetPathForKey(base::kStartMenu, &start_menu))
    return;
  const base::FilePath folder = start_menu.Append(kTemporaryShortcutFolderName);
  if (!base::DirectoryExists(folder))
    return;
  temporary_shortcut_folder_exists = true;
  temporary_shortcut_folder = folder;
}

void Status::ReadInstallerPrefs(const base::FilePath& prefs_file) {
  LOG(INFO) << "Reading existing prefs";
  const base::RefPtr<base::JsonPrefStore> prefs =
      base::CreateFilePrefStore(base::GetPrefsTaskPool(), prefs_file);
  single_profile = ReadTristatePref(*prefs, "single_profile");
  import_browser_data = ReadTristatePref(*prefs, "import_browser_data");
  enable_stats = ReadTristatePref(*prefs, "enable_stats");
  const base::Value* value = nullptr;
  if (prefs->GetValue("language", &value))
    value->GetAsWideString(&language);
  if (prefs->GetValue("welcome-url", &value))
    value->GetAsString(&welcome_url);

  LOG(INFO) << "Reading existing experiments status";
  const base::ListValue* stored_experiments = nullptr;
  if (prefs->GetValue("all-installer-experiments", &value) &&
      value->GetAsList(&stored_experiments)) {
    experiments.ApplyReader(base::ListFeatureReader(*stored_experiments));
    if (IsStoredStateOn(experiments, kTestExperimentName))
      LOG(INFO) << "Test experiment was enabled in install folder.";
  }
}

void Status::ReadUserLanguage(ProductEnvironment* environment) {
  LOG(INFO) << "Finding current user profile";
  base::FilePath user_data_dir;
  if (!environment->GetUserDataDir(&user_data_dir))
    return;
  profile_path = user_data_dir;

  // "Local State" belongs to the browser: read it as plain JSON, never
  // through a store, which would set an unparsable file aside.
  base::JsonFileDeserializer local_state(profile_path.Append(kLocalStateName),
                                         0);
  const base::ValueOwner root = local_state.Deserialize(nullptr, nullptr);
  LOG(INFO) << "Obtaining current user language";
  const base::DictionaryValue* dictionary = nullptr;
  std::string locale;
  if (root && root->GetAsDictionary(&dictionary) &&
      dictionary->GetString("intl.app_locale", &locale)) {
    language = base::Utf8ToWide(locale);
  }
}

void Status::ReadFormerGenerationPrefs() {
  LOG(INFO) << "Reading old product type";
  const base::FilePath prefs_file = install_folder.Append(kFormerPrefsFileName);
  if (!base::PathExists(prefs_file))
    return;
  // The system's reader follows a link and reads any size: the file is held
  // meanwhile, so its name keeps naming the file checked here.
  const base::win::ScopedHandle held =
      base::NewFileInFolder::OpenToRead(prefs_file.value());
  LARGE_INTEGER size = {};
  if (!held.IsValid() || !::GetFileSizeEx(held.Get(), &size) ||
      size.QuadPart > kMaxFormerPrefsSize) {
    PLOG(WARNING) << "Not reading " << prefs_file.AsUTF8();
    return;
  }

  std::wstring text;
  int32_t number = 0;
  old_product_type = 0;
  if (ReadIniString(prefs_file, kFormerSystemSection, kFormerProductTypeKey,
                    &text) &&
      base::StringToInt(base::WideToUtf8(text), &number) &&
      (number == 1 || number == 2)) {
    old_product_type = number;
  }

  LOG(INFO) << "Reading old kilnor prefs";
  if (ReadIniString(prefs_file, kFormerSystemSection, kFormerMultiUserKey,
                    &text)) {
    const bool multi_user_off =
        base::StringToInt(base::WideToUtf8(text), &number) && number == 0;
    single_profile = multi_user_off ? 1 : 0;
  }
  if (ReadIniString(prefs_file, kFormerUserPrefsSection,
                    kFormerLanguageDirectoryKey, &text) &&
      !text.empty()) {
    language = base::FilePath(text).BaseName().value();
  }
}

}  // namespace installer
