#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_H_

#include <array>
#include <bitset>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/ref_counted.h"
#include "base/weak_reference.h"

namespace base {
class CommandLine;
}

namespace installer {

class Status;
class StatsNode;

// The choices of one installation run. The names are those the log prints.
enum SettingsFlag : int32_t {
  COPY_ONLY = 0,
  SINGLE_PROFILE = 1,
  LAUNCH_TARVO = 2,
  ALL_USERS_FLAG = 3,
  DEFAULT_BROWSER = 4,
  IMPORT_BROWSER_DATA = 5,
  INSTALL_ASSISTANT = 6,
  ENABLE_TARVO_STATS = 7,
  ENABLE_INSTALLER_STATS = 8,
  DESKTOP_SHORTCUT = 9,
  START_MENU_SHORTCUT = 10,
  QUICK_LAUNCH_SHORTCUT = 11,
  PINNED_SHORTCUT = 12,
  UNINSTALL_FLAG = 13,
  SILENT = 14,
  AUTOUPDATE = 15,
  DELETE_PROFILE = 16,
  REPLACE_KILNOR_INSTALLATION = 17,
};
// Every flag with the name the log prints, in the order of the enum.
struct SettingsFlagRow {
  SettingsFlag flag;
  const char* name;
};
inline constexpr SettingsFlagRow kSettingsFlags[] = {
    {COPY_ONLY, "COPY_ONLY"},
    {SINGLE_PROFILE, "SINGLE_PROFILE"},
    {LAUNCH_TARVO, "LAUNCH_TARVO"},
    {ALL_USERS_FLAG, "ALL_USERS_FLAG"},
    {DEFAULT_BROWSER, "DEFAULT_BROWSER"},
    {IMPORT_BROWSER_DATA, "IMPORT_BROWSER_DATA"},
    {INSTALL_ASSISTANT, "INSTALL_ASSISTANT"},
    {ENABLE_TARVO_STATS, "ENABLE_TARVO_STATS"},
    {ENABLE_INSTALLER_STATS, "ENABLE_INSTALLER_STATS"},
    {DESKTOP_SHORTCUT, "DESKTOP_SHORTCUT"},
    {START_MENU_SHORTCUT, "START_MENU_SHORTCUT"},
    {QUICK_LAUNCH_SHORTCUT, "QUICK_LAUNCH_SHORTCUT"},
    {PINNED_SHORTCUT, "PINNED_SHORTCUT"},
    {UNINSTALL_FLAG, "UNINSTALL_FLAG"},
    {SILENT, "SILENT"},
    {AUTOUPDATE, "AUTOUPDATE"},
    {DELETE_PROFILE, "DELETE_PROFILE"},
    {REPLACE_KILNOR_INSTALLATION, "REPLACE_KILNOR_INSTALLATION"},
};
inline constexpr int32_t kSettingsFlagCount =
    static_cast<int32_t>(std::size(kSettingsFlags));

// Row n is flag n, so that a flag finds its row by value.
constexpr bool SettingsFlagsFollowTheEnum() {
  for (int32_t row = 0; row < kSettingsFlagCount; ++row) {
    if (kSettingsFlags[row].flag != row)
      return false;
  }
  return true;
}
static_assert(SettingsFlagsFollowTheEnum());

constexpr const char* SettingsFlagName(int32_t flag) {
  return flag >= 0 && flag < kSettingsFlagCount ? kSettingsFlags[flag].name
                                                : "UNKNOWN_FLAG";
}

// Every choice of one installation run: the operation, the mode, the flags,
// the language, the installation folder with its `Status`, the profile
// folder and the tracking id. Lives on the thread that made it (the main
// thread), which must run a message loop: the status of a new folder is
// computed on a "PrefsTaskPool" worker and adopted by a reply task. The
// front end changes it through the setters until the step machine freezes
// it; the runner hands it to the backend as switches (`ToCommandLine`),
// from which the backend rebuilds the same settings.
class Settings {
 public:
  enum Operation : int32_t {
    kNoOperation = 0,  // No valid folder yet.
    kInstalling = 1,
    kUpgrading = 2,
    kUninstalling = 3,
    kRegisteringProtocolHandler = 4,
  };
  enum Mode : int32_t {
    kAllUsersMode = 0,
    kCurrentUserMode = 1,
    kStandaloneMode = 2,
  };
  // Bits of a sources mask for the default installation folder.
  enum FolderSource : int32_t {
    kFromStandardFolder = 1,
    kFromRegistry = 2,
    kFromCommandLine = 4,
    kFromAnySource = 7,
  };
  // The "PrefsTaskPool" sequence on which folder statuses are computed.
  static constexpr char kStatusSequenceName[] = "SettingsStatus";
  static constexpr uint32_t kArchitectureX86 = 0;
  static constexpr uint32_t kArchitectureX64 = 1;

  // Called on the settings' thread.
  class Observer {
   public:
    virtual ~Observer() = default;
    // A flag was set (whether or not it changed).
    virtual void OnSettingsChanged() = 0;
    virtual void OnLanguageChanged() = 0;
    // A new status was adopted, valid or not.
    virtual void OnPathChanged() = 0;
  };

  Settings(bool uninstall,
           bool silent,
           bool autoupdate,
           const base::FilePath& install_folder,
           bool replace_old_installation,
           uint32_t architecture);
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;
  ~Settings();

  void AddObserver(Observer* observer);
  void RemoveObserver(Observer* observer);

  // Never null.
  const Status* GetStatus() const { return status_.get(); }
  bool IsStatusPending() const { return pending_request_ != nullptr; }
  Operation operation() const { return operation_; }
  bool GetFlag(int32_t flag) const { return flags_.test(flag); }
  Mode GetMode() const;
  const std::wstring& install_language() const { return install_language_; }
  const base::FilePath& profile_folder() const { return profile_folder_; }
  const std::string& niuid() const { return niuid_; }
  uint32_t architecture() const { return architecture_; }
  const std::vector<base::FilePath>& standalone_folders() const {
    return standalone_folders_;
  }
  bool profile_deletion_allowed() const { return profile_deletion_allowed_; }
  bool changeable() const { return changeable_; }
  // The step machine freezes the settings once it runs; the interactive
  // front end thaws them again to retry after an error.
  void set_changeable(bool changeable) { changeable_ = changeable; }

  // Setters: false, with nothing changed, when the settings are frozen or
  // the change does not fit the run.
  bool SetFlag(int32_t flag, bool value);
  // Refused during an upgrade and for a copy-only installation.
  bool SetAllUsers(bool value);
  // Refused for a copy-only installation.
  bool SetDefaultBrowser(bool value);
  // Only when uninstalling.
  bool SetDeleteProfile(bool value);
  bool SetEnableInstallerStats(bool value);
  bool SetEnableStats(bool value);
  bool SetImportBrowserData(bool value);
  // Refused during an upgrade.
  bool SetCopyOnly(bool value);
  bool SetMode(Mode mode);
  bool SetLanguage(const std::wstring& language);
  // Starts computing the folder's status; the settings adopt it later.
  bool SetInstallFolderIfAllowed(const base::FilePath& folder);
  // The tracking id from the installer's tracking data; refused (and
  // logged) unless it looks like an installer id.
  bool SetNiuid(const std::string& niuid);

  // Defaults, then the switches of the process's command line.
  void ReadCommandLine();

  base::FilePath GetDefaultInstallFolder(int32_t sources,
                                         uint32_t architecture,
                                         bool all_users,
                                         bool copy_only) const;
  base::FilePath GetDefaultInstallFolderForCurrentMode(int32_t sources) const;
  std::vector<base::FilePath> GetDefaultInstallFolders() const;

  // Adopts `status` as the status of the installation folder and derives
  // the operation and the choices of an existing installation from it.
  void ApplyStatus(std::unique_ptr<Status> status);

  // Keys are `prefix` followed directly by the key name.
  void WriteStats(StatsNode* node, const std::string& prefix) const;

  // Fills `command_line` (which has no program) with the switches from
  // which the backend rebuilds these settings. `suppress_launch` keeps the
  // browser from being launched (the elevated relaunch).
  void ToCommandLine(base::CommandLine* command_line,
                     bool suppress_launch) const;
  // Sets the flag's bit (no notification) from the switch when
  // `command_line` has it; false when it does not.
  bool ApplyBoolSwitch(int32_t flag,
                       const char* switch_name,
                       const base::CommandLine& command_line);

  // The last installation folder that the registry records, when it is an
  // existing folder.
  static base::FilePath ReadInstallFolderFromRegistry(uint32_t architecture);
  // Candidate folders for a standalone installation, best drive first.
  static std::vector<base::FilePath> ListStandaloneInstallPaths();

  // Clears `profile_deletion_allowed` when more than one uninstall entry of
  // this build's stream exists: the profile may belong to another one.
  void ScanUninstallKeys();

 private:
  class StatusRequest;

  void SetInstallFolder(const base::FilePath& folder);
  void FetchStatus();
  void OnStatusFetched(base::RefPtr<StatusRequest> request);
  void CancelPendingRequest();
  // Sets COPY_ONLY and what follows from it for the shortcut flags.
  void ApplyShortcutSwitches(bool copy_only);
  void ApplyExistingInstallation();
  void ChooseInitialInstallFolder();
  bool IsDefaultInstallFolder(const base::FilePath& folder) const;
  void LogFlags() const;
  void LogStatus() const;
  void NotifySettingsChanged();
  void NotifyLanguageChanged();
  void NotifyPathChanged();

  Operation operation_ = kNoOperation;
  std::bitset<kSettingsFlagCount> flags_;
  std::wstring install_language_;
  std::unique_ptr<Status> status_;
  base::RefPtr<StatusRequest> pending_request_;
  base::ObserverList<Observer> observers_;
  bool changeable_ = true;
  bool profile_deletion_allowed_ = true;
  base::FilePath command_line_folder_;
  base::FilePath registry_folder_;
  base::FilePath profile_folder_;
  std::vector<base::FilePath> standalone_folders_;
  uint32_t architecture_ = kArchitectureX86;
  std::string niuid_;
  base::WeakReferenceSource weak_source_;
};

// Boolean switch values: empty is false, "yes" and "true" in any case are
// true, anything else is true when its leading decimal number is not 0.
bool ParseBoolSwitchValue(const std::wstring& value);

// Copies the browser-import switches of the process's command line, with
// their values, to `command_line`.
void CopyImportSwitches(base::CommandLine* command_line);

// Whether `niuid` can be an installer id: at most 64 ASCII letters, digits
// and "-_{}".
bool IsValidNiuid(const std::wstring& niuid);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_H_
