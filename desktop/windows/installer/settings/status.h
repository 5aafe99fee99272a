#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_STATUS_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_STATUS_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/features/feature_list.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"

namespace installer {

class ProductEnvironment;

// Everything the installer knows about one candidate installation folder:
// whether it can hold an installation, whether one of this product (or of
// the former browser generation) is there and with which choices, which
// shortcuts point at it, whether the user may write there. Filled once by
// `Init` on a worker thread with COM initialised, then handed to the
// settings' thread, which owns it from then on.
class Status {
 public:
  explicit Status(bool look_for_former_generation);
  ~Status();
  Status(const Status&) = delete;
  Status& operator=(const Status&) = delete;

  // Examines `path`; the outcome is in the fields below. Only reads.
  void Init(base::FilePath path);
  // Init's two halves, for a caller that must act on the folder before it
  // is read: whether `path` could hold an installation (an existing folder
  // or one to make), then the reading of it.
  bool Locate(base::FilePath path);
  void Read();
  void ReadInstallationState();
  void TestShortcuts(const base::FilePath& target, bool is_current_target);
  void NormalizeInstallLogFlags();

  // The folder's install log, when it has one that could be read.
  InstallLog install_log;

  bool desktop_shortcut_exists = false;
  bool start_menu_shortcut_exists = false;
  bool quick_launch_shortcut_exists = false;
  bool temporary_shortcut_folder_exists = false;
  bool has_write_access = false;
  std::vector<base::FilePath> pinned_shortcut_paths;
  bool recreate_desktop_shortcut = false;
  bool recreate_start_menu_shortcut = false;
  bool recreate_quick_launch_shortcut = false;
  bool recreate_pinned_shortcut = false;
  bool is_http_handler = false;
  // Preferences of an existing installation: -1 unset, else 0 or 1.
  int32_t import_browser_data = -1;
  int32_t enable_stats = -1;
  std::wstring language;
  std::string welcome_url;
  std::string tracking_data;
  int32_t single_profile = -1;
  int32_t old_product_type = -1;
  base::FilePath profile_path;
  base::FilePath temporary_shortcut_folder;
  base::FeatureList experiments;
  base::FilePath install_folder;
  // The nearest existing folder of the path (the path itself when it
  // exists).
  base::FilePath valid_parent_folder;
  // Why the status file was not read, and the raw text of one that did not
  // parse.
  std::string status_file_error;
  std::string status_file_content;
  bool valid_install_path = false;
  bool existing_installation = false;
  bool kilnor_installation = false;
  bool existing_installation_traces = false;
  bool look_for_former_generation = false;
  // What the recovery of a run that died there could not undo, as the
  // caller that recovered the folder before reading it found: no run may
  // work in the folder until the next recovery has.
  InterruptedRunRecovery::Outcome recovery;

 private:
  void InitFromExistingFolder();
  void InitFromExistingParent();
  void ReadStatusFile();
  // False with the error and the (capped) content of `file` kept.
  bool ReadInstallLog(const base::FilePath& file, const char* error_prefix);
  void TestAllShortcutTargets();
  void FindTemporaryShortcutFolder();
  void ReadInstallerPrefs(const base::FilePath& prefs_file);
  void ReadUserLanguage(ProductEnvironment* environment);
  void ReadFormerGenerationPrefs();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_STATUS_H_
