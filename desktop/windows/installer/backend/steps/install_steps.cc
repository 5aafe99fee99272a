#include "desktop/windows/installer/backend/steps/install_steps.h"

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/features/feature_tables.h"
#include "base/files/file_util.h"
#include "base/files/new_file_in_folder.h"
#include "base/json/json_file_value_serializer.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/prefs_task_pool.h"
#include "base/values.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "components/prefs/read_prefs_file.h"
#include "desktop/windows/installer/backend/installer.h"
#include "desktop/windows/installer/backend/installer_process_switches.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/autoupdate_task.h"
#include "desktop/windows/installer/backend/steps/firewall_rule.h"
#include "desktop/windows/installer/backend/steps/journaled_temporary_files.h"
#include "desktop/windows/installer/backend/steps/post_install_tasks.h"
#include "desktop/windows/installer/backend/steps/product_shortcuts.h"
#include "desktop/windows/installer/backend/steps/uninstall_entry_claim.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/install_log/install_log_writer.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/paths/archive_entry_path.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_names.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product_environment/folder_product_environment.h"
#include "desktop/windows/installer/registry/registry_entry.h"
#include "desktop/windows/installer/registry/registry_entry_tables.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/signing/build_publisher.h"
#include "desktop/windows/installer/signing/running_image.h"
#include "desktop/windows/installer/signing/signature_verifier.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/system/write_whole_buffer.h"
#include "desktop/windows/installer/transactions/copy_file_operation.h"
#include "desktop/windows/installer/transactions/move_file_operation.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

constexpr char kHideFromProgramsFeature[] =
    "installer-hide-from-program-and-features";
constexpr wchar_t kUninstallKeyTemplate[] = L"{Uninstall}";
constexpr wchar_t kClientsKey[] = L"Software\\Clients\\StartMenuInternet";

// The last installation folder, as the settings read it back, and the
// value a former 64-bit installer wrote beside it.
constexpr RegistryEntryDescription kSetLastInstallPathRegOp = {
    L"{CompanyRegistryKey}",
    L"Last {Stream} Install Path",
    REG_SZ,
    L"{InstallFolder}\\",
    0,
    RootFilter::kAnyRoot,
    0,
    0,
    0};
constexpr RegistryEntryDescription kDeleteLegacyX64InstallPathRegOp = {
    L"{CompanyRegistryKey}",
    L"Last {Stream} Install Path x64",
    kRemoveValue,
    {},
    0,
    RootFilter::kAnyRoot,
    0,
    0,
    0};

// E with ".old" before its extension.
base::FilePath OldExecutablePath(const base::FilePath& executable) {
  const std::wstring& path = executable.value();
  const size_t dot = path.rfind(L'.');
  const size_t slash = path.find_last_of(L"\\/");
  if (dot == std::wstring::npos ||
      (slash != std::wstring::npos && dot < slash)) {
    return base::FilePath(path + L".old");
  }
  return base::FilePath(path.substr(0, dot) + L".old" + path.substr(dot));
}

std::string DescribeRow(const RegistryEntry& entry,
                        const RegistryEntryDescription& row) {
  const std::string key = base::WideToUtf8(entry.ExpandPlaceholders(row.key));
  if (!row.value_name)
    return "default value to key " + key;
  return "value " + base::WideToUtf8(entry.ExpandPlaceholders(row.value_name)) +
         " to key " + key;
}

// The package's welcome page, read as plain JSON, never through a store:
// one would set a file that does not parse aside beside it, and the
// protocol registration reads it from the installation's version folder.
std::string ReadWelcomeUrl(const base::FilePath& include) {
  const base::ValueOwner root =
      base::JsonFileDeserializer(include, 0).Deserialize(nullptr, nullptr);
  const base::DictionaryValue* dictionary = nullptr;
  std::string welcome_url;
  if (root && root->GetAsDictionary(&dictionary))
    dictionary->GetString("welcome-url", &welcome_url);
  return welcome_url;
}

// Whoever may write the installation folder may have put a link or a second
// name of another file there: an elevated run would copy what it leads to
// into the folder, for its writer to read. Only the folder's own file, and
// only as much as the prefs may be, is staged, through the handle that
// made the staged file; otherwise the prefs start anew, as where there were
// none, and this is false (an empty staged file would not parse and be set
// aside; a missing one reads as a new store).
bool StageInstallerPrefs(const base::FilePath& target, HANDLE staged) {
  std::string contents;
  if (!base::NewFileInFolder::ReadToString(target.value(), kMaxRunDataFileSize,
                                           &contents)) {
    if (::GetLastError() != ERROR_FILE_NOT_FOUND)
      PLOG(ERROR) << "Not reading the installer prefs";
    return false;
  }
  if (const DWORD error =
          WriteWholeBuffer(staged, contents.data(), contents.size())) {
    ::SetLastError(error);
    PLOG(ERROR) << "Failed staging the installer prefs";
  }
  return true;
}

}  // namespace

InstallSteps::InstallSteps(Installer* installer) : InstallerPart(installer) {}

void InstallSteps::SaveLastInstallPath() {
  if (run_.settings->operation() == Settings::kUninstalling ||
      run_.settings->GetFlag(COPY_ONLY) || run_.settings->GetFlag(AUTOUPDATE)) {
    return;
  }
  VLOG(1) << "Saving last installation path.";
  std::unique_ptr<Operation> operation;
  RegistryEntry(kSetLastInstallPathRegOp, &installer_)
      .CreateOperation(HKEY_CURRENT_USER, &operation);
  if (!operation)
    LOG(ERROR) << "Could not convert kSetLastInstallPathRegOp";
  else if (!run_.transaction.ExecuteOperation(std::move(operation)))
    LOG(WARNING) << "Could not write last installation path";
  if (run_.settings->architecture() != Settings::kArchitectureX64)
    return;
  RegistryEntry(kDeleteLegacyX64InstallPathRegOp, &installer_)
      .CreateOperation(HKEY_CURRENT_USER, &operation);
  if (!operation || !run_.transaction.ExecuteOperation(std::move(operation)))
    LOG(WARNING) << "Could not delete legacy x64 last install path";
}

void InstallSteps::StepInstallLauncher() {
  LOG(INFO) << "Installing the launcher";
  const base::FilePath folder = status()->install_folder;
  const base::FilePath source = run_.package_folder.Append(kLauncherName);
  const base::FilePath target = folder.Append(kLauncherName);
  if (!run_.transaction.ExecuteOperation(
          std::make_unique<CopyFileOperation>(source, target,
                                              run_.held_folders.get()))) {
    LOG(ERROR) << Fail(kStringCopyFileFailed, target.value(),
                       "Failed copying the launcher");
    return;
  }
  if (!IsWhiteLabeled())
    InstallLauncherAsExecutable(folder, source);
  const base::CommandLine& command_line = GetProcessCommandLine();
  if (command_line.HasSwitch(switches::kServerTrackingData))
    InstallTrackingData(folder, command_line);
  InstallPrefDefaultOverrides(folder);
  InstallHelper(folder);
  ScheduleNextStep();
}

void InstallSteps::InstallLauncherAsExecutable(const base::FilePath& folder,
                                               const base::FilePath& launcher) {
  const base::FilePath executable =
      folder.AppendASCII(GetProductExecutableName());
  const base::FilePath old = OldExecutablePath(executable);
  const bool replace =
      (status()->existing_installation && status()->kilnor_installation) ||
      (base::PathExists(executable) && base::PathExists(old));
  if (!replace)
    return;
  LOG(INFO) << "Install the launcher as tarvo.exe";
  if (!run_.transaction.ExecuteOperation(
          std::make_unique<MoveFileOperation>(
              executable, old, MoveFileOperation::Reach::kAnyVolume,
              MoveFileOperation::Source::kKept, run_.held_folders.get())) ||
      !run_.transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
          launcher, executable, run_.held_folders.get()))) {
    LOG(WARNING) << "Failed installing the launcher as tarvo.exe";
  }
}

void InstallSteps::InstallTrackingData(const base::FilePath& folder,
                                       const base::CommandLine& command_line) {
  LOG(INFO) << "Tracking data installation requested";
  base::FilePath data =
      command_line.GetSwitchValuePath(switches::kServerTrackingData);
  if (!data.IsAbsolute())
    data = run_.package_folder.Append(data.value());
  if (!base::PathExists(data)) {
    LOG(WARNING) << "Tracking data path specified on command line invalid";
    return;
  }
  if (!run_.transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
          data, folder.Append(kServerTrackingDataName),
          run_.held_folders.get()))) {
    LOG(WARNING) << "Failed to install tracking data";
  }
}

void InstallSteps::InstallPrefDefaultOverrides(const base::FilePath& folder) {
  const base::FilePath overrides =
      run_.package_folder.Append(kPrefDefaultOverridesName);
  if (!base::PathExists(overrides))
    return;
  LOG(INFO) << "Found pref default overrides";
  base::JsonFileDeserializer deserializer(overrides, 0);
  int32_t error = 0;
  std::string message;
  if (!deserializer.Deserialize(&error, &message)) {
    LOG(WARNING) << "Supplied pref default overrides is not valid JSON";
    return;
  }
  if (!run_.transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
          overrides, folder.Append(kPrefDefaultOverridesName),
          run_.held_folders.get()))) {
    LOG(WARNING) << "Failed to install pref default overrides";
  }
}

void InstallSteps::InstallHelper(const base::FilePath& folder) {
  const bool is_64_bit = base::win::GetWindowsVersionInfo().architecture() ==
                         base::win::WindowsVersionInfo::kArchitectureX64;
  const wchar_t* name =
      is_64_bit ? kInstallerHelper64Name : kInstallerHelperName;
  const base::FilePath helper = run_.package_folder.Append(name);
  if (!base::PathExists(helper))
    return;
  LOG(INFO) << "Found installer helper";
  const std::wstring base_name = helper.BaseName().value();
  if (run_.transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
          helper, folder.Append(run_.install_log.subfolder).Append(base_name),
          run_.held_folders.get()))) {
    // Logged with the package's files, so that an update or an
    // uninstallation removes it with them instead of leaving it behind.
    if (std::find(run_.install_log.files.begin(), run_.install_log.files.end(),
                  base_name) == run_.install_log.files.end()) {
      run_.install_log.files.push_back(base_name);
    }
  } else {
    LOG(WARNING) << "Failed to install the helper";
  }
}

void InstallSteps::StepSetUpRegistry() {
  if (run_.settings->GetFlag(COPY_ONLY)) {
    ScheduleNextStep();
    return;
  }
  LOG(INFO) << "Setting up the registry";
  const HKEY root = run_.settings->GetFlag(ALL_USERS_FLAG) ? HKEY_LOCAL_MACHINE
                                                           : HKEY_CURRENT_USER;
  run_.uninstall_key_name = ChooseUninstallKey(root);
  if (run_.uninstall_key_name.empty()) {
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "Failed writing uninstallation information");
    return;
  }
  LOG(INFO) << "Uninstall key: " << base::WideToUtf8(run_.uninstall_key_name);
  run_.registry_logging = true;
  std::span<const RegistryEntryDescription> rows = GetInstallationEntries();
  // The table ends with the row that hides the entry from the programs list.
  if (!base::IsFeatureEnabled(kHideFromProgramsFeature))
    rows = rows.first(rows.size() - 1);
  for (const RegistryEntryDescription& row : rows) {
    if (!WriteRegistryRow(root, row)) {
      run_.registry_logging = false;
      LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                         "Failed writing uninstallation information");
      return;
    }
  }
  run_.registry_logging = false;
  ScheduleNextStep();
}

std::wstring InstallSteps::ChooseUninstallKey(HKEY root) {
  return UninstallEntryClaim(root, MakeUninstallKeyPath(std::wstring()))
      .Claim(&run_.transaction);
}

bool InstallSteps::WriteRegistryRow(HKEY root,
                                    const RegistryEntryDescription& row) {
  RegistryEntry entry(row, &installer_);
  const bool mandatory = std::wstring(row.key) == kUninstallKeyTemplate;
  const std::string description = DescribeRow(entry, row);
  std::unique_ptr<Operation> operation;
  if (!entry.CreateOperation(root, &operation))
    return !mandatory;
  if (!operation) {
    VLOG(2) << "Skipping inapplicable operation: " << description;
    return true;
  }
  LOG(INFO) << "Writing " << description;
  const bool written = run_.transaction.ExecuteOperation(std::move(operation));
  return written || !mandatory;
}

void InstallSteps::StepInstallShortcuts() {
  if (run_.settings->GetFlag(COPY_ONLY)) {
    ScheduleNextStep();
    return;
  }
  LOG(INFO) << "Installing shortcuts";
  const bool all_users = run_.settings->GetFlag(ALL_USERS_FLAG);
  // The created paths land here first: the install log keeps them as text.
  std::array<base::FilePath, 3> created;
  const std::array<std::wstring*, 3> members = {
      &run_.install_log.desktop_shortcut, &run_.install_log.start_menu_shortcut,
      &run_.install_log.quick_launch_shortcut};
  std::vector<ProductShortcuts::ShortcutDestination> destinations;
  AddShortcutDestination(DESKTOP_SHORTCUT,
                         all_users ? base::kCommonDesktop : base::kDesktop,
                         &created[0], &destinations);
  AddShortcutDestination(START_MENU_SHORTCUT,
                         all_users ? base::kCommonStartMenu : base::kStartMenu,
                         &created[1], &destinations);
  AddShortcutDestination(QUICK_LAUNCH_SHORTCUT, base::kQuickLaunch, &created[2],
                         &destinations);
  bool use_version = false;
  product_shortcuts().CreateMasterShortcut(
      &destinations, run_.settings->GetFlag(PINNED_SHORTCUT), &use_version,
      status()->install_folder.Append(kLauncherName));
  for (size_t i = 0; i < created.size(); ++i)
    *members[i] = created[i].value();
  ScheduleNextStep();
}

void InstallSteps::AddShortcutDestination(
    int32_t flag,
    int path_key,
    base::FilePath* result,
    std::vector<ProductShortcuts::ShortcutDestination>* destinations) {
  if (!run_.settings->GetFlag(flag))
    return;
  base::FilePath folder;
  if (!base::GetPathForKey(path_key, &folder)) {
    LOG(ERROR) << "No folder for shortcut key " << path_key;
    return;
  }
  destinations->push_back({folder, result});
}

void InstallSteps::StepWriteInstallerPrefs() {
  const base::FilePath target =
      status()->install_folder.Append(kInstallerPrefsName);
  LOG(INFO) << "Writing installer prefs to" << target.AsUTF8();
  // The store writes a staged copy that then replaces the file through the
  // transaction: written in place, a later failure would leave it behind,
  // and the pool's late write would race the finalize step's read. Staged
  // in the folder, every file of it journaled before it exists (the store's
  // own temporary files too): a run that dies now leaves them to the next.
  JournaledTemporaryFiles temporaries;
  base::NewFileInFolder::Result made = temporaries.MakeFor(target);
  if (!made.file.IsValid()) {
    LOG(ERROR) << "Failed staging the installer prefs";
    ScheduleNextStep();
    return;
  }
  const base::FilePath staged(made.path);
  const bool copied = StageInstallerPrefs(target, made.file.Get());
  made.file.Close();
  // A staged copy that does not parse is set aside by the store's read,
  // under a name the journal must know first.
  const base::FilePath set_aside = base::GetBadPrefsFilePath(staged);
  if (copied && !temporaries.Expect(set_aside)) {
    base::DeletePath(staged, false);
    ScheduleNextStep();
    return;
  }
  // An empty file would not parse and be set aside; a missing one reads as
  // a new store.
  if (!copied)
    base::DeletePath(staged, false);
  {
    const base::RefPtr<base::JsonPrefStore> prefs =
        base::MakeRefCounted<base::JsonPrefStore>(staged, nullptr);
    prefs->SetTemporaryFileMaker(&temporaries);
    prefs->ReadPrefs();
    // The protocol registration runs this step without the main routine,
    // which finds the package folder.
    base::FilePath package = run_.package_folder;
    if (package.empty())
      base::GetPathForKey(base::kExeDir, &package);
    FillInstallerPrefs(
        ReadWelcomeUrl(package.Append(kInstallerPrefsIncludeName)),
        prefs.get());
    prefs->FlushPendingWrite();
  }
  if (!run_.transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
          staged, target, run_.held_folders.get()))) {
    LOG(ERROR) << "Failed writing the installer prefs";
  }
  base::DeletePath(staged, false);
  // An unreadable file was set aside beside the staged copy; the original
  // stays where it was.
  base::DeletePath(set_aside, false);
  ScheduleNextStep();
}

void InstallSteps::FillInstallerPrefs(const std::string& welcome_url,
                                      base::JsonPrefStore* prefs) {
  if (!welcome_url.empty()) {
    LOG(INFO) << "Writing welcome page url pref";
    prefs->SetValue("welcome-url", base::MakeValue<base::Value>(welcome_url),
                    0);
  }
  prefs->SetValue(
      "single_profile",
      base::MakeBooleanValue(run_.settings->GetFlag(SINGLE_PROFILE)), 0);
  if (!run_.settings->profile_folder().empty()) {
    LOG(INFO) << "Writing profile folder pref";
    prefs->SetValue(
        "profile_path",
        base::MakeValue<base::Value>(run_.settings->profile_folder().AsUTF8()),
        0);
  }
  if (!run_.settings->install_language().empty()) {
    LOG(INFO) << "Writing install language pref";
    prefs->SetValue("language",
                    base::MakeValue<base::Value>(
                        base::WideToUtf8(run_.settings->install_language())),
                    0);
  }
  if (!run_.settings->niuid().empty()) {
    LOG(INFO) << "Writing NIUID";
    prefs->SetValue("installer_id",
                    base::MakeValue<base::Value>(run_.settings->niuid()), 0);
  }
  WriteExperimentPrefs(prefs);
  const base::CommandLine& command_line = GetProcessCommandLine();
  if (command_line.HasSwitch(switches::kTempFolder)) {
    LOG(INFO) << "Writing temp folder pref";
    prefs->SetValue(
        "temp_folder",
        base::MakeValue<base::Value>(base::WideToUtf8(
            command_line.GetSwitchValueNative(switches::kTempFolder))),
        0);
  }
  LOG(INFO) << "Writing autoupdate pref";
  const bool autoupdate = run_.settings->GetFlag(AUTOUPDATE);
  prefs->SetValue("autoupdate", base::MakeBooleanValue(autoupdate), 0);
  if (!autoupdate) {
    LOG(INFO) << "Writing import browser data and enables stats prefs.";
    prefs->SetValue(
        "import_browser_data",
        base::MakeBooleanValue(run_.settings->GetFlag(IMPORT_BROWSER_DATA)), 0);
    prefs->SetValue(
        "enable_stats",
        base::MakeBooleanValue(run_.settings->GetFlag(ENABLE_TARVO_STATS)), 0);
  }
}

void InstallSteps::WriteExperimentPrefs(base::JsonPrefStore* prefs) {
  const base::ProductChannelMask mask =
      base::GetProductChannelMask(GetUserAgentName());
  base::ListValueOwner all = base::MakeValue<base::ListValue>();
  base::ListValueOwner changed = base::MakeValue<base::ListValue>();
  for (const base::FeatureTableRow& row : base::GetInstallerFeatureTable()) {
    const bool enabled = base::IsFeatureEnabled(row.name);
    const std::string text = MakeCountedPrefValue(row.name, enabled);
    all->AppendString(text);
    if (enabled != base::IsFeatureEnabledByDefault(row, mask))
      changed->AppendString(text);
  }
  prefs->SetValue("all-installer-experiments", std::move(all), 0);
  prefs->SetValue("installer-experiments", std::move(changed), 0);
}

void InstallSteps::StepInstallComponents() {
  LOG(INFO) << "Installing Components";
  run_.install_log.components.clear();
  if (run_.settings->operation() == Settings::kUpgrading)
    run_.install_log.components = status()->install_log.components;
  const base::CommandLine& command_line = GetProcessCommandLine();
  base::FilePath executable;
  if (!base::GetPathForKey(base::kExeFile, &executable) ||
      !command_line.HasSwitch(switches::kComponents)) {
    ScheduleNextStep();
    return;
  }
  const std::string value = base::WideToUtf8(
      command_line.GetSwitchValueNative(switches::kComponents));
  LOG(INFO) << "Components present : " << value;
  // They are looked for beside the package folder, in a folder its user
  // may write: the system's temporary folder when the run is for all users,
  // the user's own otherwise. Only the signer's name is checked there, and
  // the file is started by name after the check.
  if (run_.settings->GetFlag(ALL_USERS_FLAG) || MayRunElevated()) {
    LOG(WARNING) << "Components are not installed by a run that may be "
                    "elevated: they would be started from a folder its user "
                    "may write";
    ScheduleNextStep();
    return;
  }
  // Told by the image the loader mapped, not by the file under its name.
  const bool unsigned_build = !RunningImage::IsOwnProgramSigned();
  for (const std::string& part : base::SplitString(
           value, "|", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    InstallComponent(part, unsigned_build);
  }
  ScheduleNextStep();
}

void InstallSteps::InstallComponent(const std::string& part,
                                    bool unsigned_build) {
  LOG(INFO) << "Processing component " << part;
  const size_t colon = part.find(':');
  const std::string name = part.substr(0, colon);
  const std::string subfolder =
      colon == std::string::npos ? std::string() : part.substr(colon + 1);
  // The name makes a file name here and a folder of the installation, the
  // subfolder a path below the package folder's parent: neither may lead
  // elsewhere.
  if (!IsPlainComponent(base::Utf8ToWide(name)) ||
      (!subfolder.empty() &&
       !GetArchiveEntryRelativePath(base::Utf8ToWide(subfolder)))) {
    LOG(ERROR) << "Refusing component " << part
               << ": its name or folder leads out of its place";
    return;
  }
  const base::FilePath folder =
      run_.package_folder.DirName().Append(base::Utf8ToWide(subfolder));
  base::FilePath component =
      folder.Append(base::Utf8ToWide(name) + kComponentInstallerSuffix);
  if (name == "suite" && !base::PathExists(component)) {
    const base::FilePath assistant = folder.Append(kAssistantInstallerName);
    LOG(INFO) << "Rewriting component installer name from "
              << component.AsUTF8() << "to: " << assistant.AsUTF8();
    component = assistant;
  }
  if (!base::PathExists(component)) {
    LOG(ERROR) << "Component installer does not exist " << component.AsUTF8();
    return;
  }
  // A component is of another release, whose publisher may have renewed
  // its certificate since this build.
  std::string report;
  const SignatureRefusal refusal =
      unsigned_build ? SignatureRefusal::kNone
                     : CheckFileSignature(component, &BuildPublisher::Roots(),
                                          &report);
  if (refusal != SignatureRefusal::kNone) {
    LOG(ERROR) << "Signature error for component installer "
               << component.AsUTF8() << ": "
               << DescribeSignatureRefusal(refusal) << ": " << report;
    return;
  }
  const base::FilePath target =
      status()->install_folder.Append(base::Utf8ToWide(name));
  const bool copy_only = run_.settings->GetFlag(COPY_ONLY);
  const bool all_users = run_.settings->GetFlag(ALL_USERS_FLAG);
  base::CommandLine command_line(component);
  command_line.AppendSwitchPath(switches::kInstallFolder, target);
  command_line.AppendSwitchASCII(switches::kCopyOnly, copy_only ? "1" : "0");
  command_line.AppendSwitchASCII(switches::kAllUsers, all_users ? "1" : "0");
  LOG(INFO) << "Running component installer";
  const base::Process process = base::LaunchProcessForCommandLine(
      command_line, base::ProcessLaunchOptions());
  int exit_code = -1;
  if (!process.IsValid() || !process.WaitForExit(&exit_code)) {
    LOG(ERROR) << "Component installer could not be run";
    return;
  }
  LOG(INFO) << "Component installer returned " << exit_code;
  if (exit_code != 0)
    return;
  for (const auto& [listed, path] : run_.install_log.components) {
    if (listed == name && run_.settings->operation() == Settings::kUpgrading)
      return;
  }
  run_.install_log.components.emplace_back(name, target.value());
}

void InstallSteps::StepFinalizeInstallation() {
  LOG(INFO) << "Finalizing the installation";
  const base::FilePath folder = status()->install_folder;
  if (!WriteInstallStatus(folder.Append(kInstallLogName))) {
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "Failed saving the installation status");
    return;
  }
  MakeDefaultBrowserIfAsked(folder);
  BroadcastAssociationChange();
  if (autoupdate_task().ShouldCreateAutoupdateTask())
    autoupdate_task().CreateAutoupdateTask(folder);
  if (IsUserAdmin(false)) {
    AddFirewallRule(folder.Append(run_.install_log.subfolder)
                        .AppendASCII(GetProductExecutableName()),
                    false);
  }
  post_install_tasks().FinalizeSuccessfulInstallation();
  for (InstallerObserver& observer : run_.observers)
    observer.OnStep();
  Succeeded();
}

bool InstallSteps::WriteInstallStatus(const base::FilePath& target) {
  // Written beside the target, then put in place through the transaction:
  // written in place, a failure from here on would leave a status file that
  // tells the next run an installation is there. The staged copy is
  // journaled before it exists (a run that dies now leaves it to the next)
  // and written straight, not through a temporary file of its own, whose
  // second suffix the folder's limit leaves no room for.
  std::string text;
  if (!InstallLogWriter().Serialize(run_.install_log, &text)) {
    LOG(ERROR) << "Cannot build the installation status";
    return false;
  }
  JournaledTemporaryFiles temporaries;
  base::NewFileInFolder::Result made = temporaries.MakeFor(target);
  if (!made.file.IsValid()) {
    LOG(ERROR) << "Failed staging the installation status";
    return false;
  }
  const base::FilePath staged(made.path);
  const DWORD error =
      WriteWholeBuffer(made.file.Get(), text.data(), text.size());
  made.file.Close();
  if (error != ERROR_SUCCESS) {
    ::SetLastError(error);
    PLOG(ERROR) << "Failed writing " << staged.AsUTF8();
  }
  const bool written =
      error == ERROR_SUCCESS &&
      run_.transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
          staged, target, run_.held_folders.get()));
  base::DeletePath(staged, false);
  return written;
}

void InstallSteps::MakeDefaultBrowserIfAsked(const base::FilePath& folder) {
  // Windows 10 lets only the user choose: a relaunched or silent run, or one
  // already handling web links, leaves the choice alone.
  if (base::win::GetWindowsVersion() >= base::win::kVersionWin10 &&
      (GetProcessCommandLine().HasSwitch(switches::kParentPid) ||
       run_.settings->GetFlag(SILENT) || status()->is_http_handler)) {
    return;
  }
  if (!run_.settings->GetFlag(DEFAULT_BROWSER) ||
      run_.settings->GetFlag(COPY_ONLY))
    return;
  FolderProductEnvironment environment(folder, run_.install_log);
  if (run_.settings->GetFlag(ALL_USERS_FLAG)) {
    LOG(INFO) << "Storing old default browser settings for all users";
    environment.RememberCurrentDefaultBrowser(true);
    environment.MakeDefaultBrowser(true);
  }
  LOG(INFO) << "Storing old default browser settings for current users";
  environment.RememberCurrentDefaultBrowser(false);
  environment.MakeDefaultBrowser(false);
}

void InstallSteps::BroadcastAssociationChange() {
  SendNotifyMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                     reinterpret_cast<LPARAM>(kClientsKey));
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

// static
std::wstring InstallSteps::MakeUninstallKeyPath(const std::wstring& suffix) {
  return GetUninstallRegistryPath(
             GetUninstallEntryName(base::Utf8ToWide(GetVersionString()))) +
         suffix;
}

// static
std::string InstallSteps::MakeCountedPrefValue(const std::string& text,
                                               bool first) {
  return text + "@" + (first ? "1" : "2");
}

}  // namespace installer
